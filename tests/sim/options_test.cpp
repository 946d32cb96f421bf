#include "simengine.h"
#include "simoptions.h"
#include "simstate.h"

#include <gtest/gtest.h>

#include <functional>

using sim::parseArguments;
using sim::SimOptions;

TEST(SimOptions, EachOptionReachesTheEngineOrTheLoop) {
    const struct {
        QStringList arguments;
        std::function<bool(const SimOptions&)> holds;
    } cases[] = {
        {{},
         [](const SimOptions& o) {
             return o.baud == 0 && o.engine.byteTime == 0 && !o.engine.twoByteReplies &&
                    o.statePath.isEmpty() && !o.exitOnStdinClose && !o.exitAfterIdleMs &&
                    o.engine.faults.splitAt.empty();
         }},
        {{"--state", "s.bin", "-v"}, [](const SimOptions& o) { return o.statePath == "s.bin" && o.verbose; }},
        {{"--exit-after-idle=1500", "--exit-on-stdin-close"},
         [](const SimOptions& o) { return o.exitAfterIdleMs == 1500 && o.exitOnStdinClose; }},
        {{"--two-byte-replies", "--reply-gap", "0", "--block-time", "60", "--frame-timeout", "90",
          "--split-gap", "3"},
         [](const SimOptions& o) {
             return o.engine.twoByteReplies && o.engine.replyGap == 0 && o.engine.blockTime == 60'000 &&
                    o.engine.frameTimeout == 90'000 && o.engine.splitGap == 3000;
         }},
        {{"--baud", "9600"}, [](const SimOptions& o) { return o.baud == 9600 && o.engine.byteTime == 1041; }},
        {{"--silence-after", "7", "--hangup-after", "0x20"},
         [](const SimOptions& o) {
             return o.engine.faults.silenceAfterBytes == 7 && o.hangupAfterBytes == 32;
         }},
        {{"--fail-program", "--fail-after-block", "3"},
         [](const SimOptions& o) {
             return o.engine.faults.failProgram && o.engine.faults.failAfterBlock == 3;
         }},
        {{"--corrupt", "0x123"}, [](const SimOptions& o) { return o.engine.faults.corruptAddress == 0x123; }},
        {{"--split", "12,6,12"},
         [](const SimOptions& o) {
             return o.engine.faults.splitAt == std::vector<int>{6, 12};
         }},
        {{"--split", "all"}, [](const SimOptions& o) { return o.engine.faults.splitAt.size() == 17; }},
        {{"--extra-bytes", "5A,0xa5"},
         [](const SimOptions& o) { return o.engine.faults.extraBytes == QByteArray::fromHex("5AA5"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const auto parsed = parseArguments(c.arguments);
        EXPECT_EQ(parsed.error, QString());
        EXPECT_TRUE(c.holds(parsed.options));
    }
    EXPECT_TRUE(parseArguments({"--help"}).help);
}

TEST(SimOptions, BadValuesAreUsageErrors) {
    const QStringList bad[] = {
        {"--state"},         {"--state", ""},
        {"--baud", "9600x"}, {"--baud", "10"},
        {"--split", "0"},    {"--split", "18"},
        {"--split", "4,x"},  {"--extra-bytes", "100"},
        {"--corrupt", "-1"}, {"--corrupt", "20480"},
        {"--verbose=yes"},   {"--exit-after-idle", "0"},
        {"--frobnicate"},    {"--fail-after-block", "+1"},
    };
    for (const auto& arguments : bad) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_FALSE(parseArguments(arguments).error.isEmpty());
    }
}

TEST(SimState, RoundTripsAndRefusesAnythingMalformedWithoutTouchingTheChips) {
    sim::Engine source;
    QByteArray image(4096, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i % 251);
    ASSERT_TRUE(source.setMemory(2, image));
    ASSERT_TRUE(source.setLockLevel(2, 3));
    const QByteArray file = sim::encodeState(source);

    sim::Engine copy;
    QString error;
    ASSERT_TRUE(sim::decodeState(file, copy, &error)) << error.toStdString();
    for (int chip = 0; chip < chipCount; ++chip) {
        EXPECT_EQ(copy.memory(chip), source.memory(chip)) << chip;
        EXPECT_EQ(copy.lockLevel(chip), source.lockLevel(chip)) << chip;
    }

    QByteArray badLock = file;
    badLock.replace("chip 2 AT89C51 4096 lock 3", "chip 2 AT89C51 4096 lock 4");
    QByteArray wrongChip = file;
    wrongChip.replace("chip 2 AT89C51 4096", "chip 2 AT89C52 4096");
    const QByteArray broken[] = {
        {},         file.left(file.size() - 1),
        file + "x", badLock,
        wrongChip,  QByteArray(file).replace("\ndata\n", "\nDATA\n"),
    };
    for (const auto& candidate : broken) {
        sim::Engine target;
        EXPECT_FALSE(sim::decodeState(candidate, target, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(target.memory(2), QByteArray(4096, char(0xFF)));
        EXPECT_EQ(target.lockLevel(2), 0);
    }
}
