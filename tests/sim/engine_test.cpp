#include "simengine.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

using sim::Engine;
using sim::EngineOptions;
using sim::Micros;

namespace {

constexpr Micros ms = 1000;

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QByteArray dataFrame(quint8 fill) {
    return hex("0707") + QByteArray(16, char(fill));
}
QByteArray endFrame() {
    return hex("08") + QByteArray(17, '\0');
}

// Block frame of a block whose 16 bytes all hold `fill`.
QByteArray blockFrame(int block, quint8 fill) {
    QByteArray frame;
    frame.append(char(block >> 8));
    frame.append(char(block & 0xFF));
    return frame + QByteArray(16, char(fill));
}

// Drives an engine the way the pty loop does, on a clock of its own.
struct Line {
    explicit Line(EngineOptions options = {}) : engine(std::move(options)) {}

    // Sends bytes and returns everything the engine answers, waiting as long as it has output scheduled.
    QByteArray send(const QByteArray& bytes) {
        engine.receive(bytes, now);
        return drain();
    }
    QByteArray drain() {
        QByteArray out = engine.takeDue(now);
        while (auto next = engine.nextDeadline()) {
            now = std::max(now, *next);
            engine.advance(now);
            out += engine.takeDue(now);
        }
        now += 1 * ms;
        return out;
    }
    // Sends bytes and returns the answer as it leaves: each write with its time relative to the send.
    std::vector<std::pair<Micros, QByteArray>> timed(const QByteArray& bytes) {
        const Micros start = now;
        engine.receive(bytes, now);
        std::vector<std::pair<Micros, QByteArray>> writes;
        if (QByteArray out = engine.takeDue(now); !out.isEmpty()) writes.push_back({0, out});
        while (auto next = engine.nextDeadline()) {
            now = std::max(now, *next);
            engine.advance(now);
            if (QByteArray out = engine.takeDue(now); !out.isEmpty()) writes.push_back({now - start, out});
        }
        return writes;
    }

    Micros now = 0;
    Engine engine;
};

struct Step {
    QByteArray in;
    QByteArray out;
};

struct Conversation {
    const char* name;
    std::function<void(EngineOptions&)> configure;
    std::vector<Step> steps;
};

} // namespace

TEST(SimEngine, AnswersEachExchangeByteForByte) {
    const auto none = [](EngineOptions&) {};
    const auto twoByte = [](EngineOptions& o) { o.twoByteReplies = true; };
    const std::vector<Conversation> conversations = {
        {"probe", none, {{hex("FA0000"), hex("02")}}},
        {"erase", none, {{hex("000200"), hex("06")}}},
        {"erase, two-byte reply without continuation", twoByte, {{hex("030200"), hex("0600")}}},
        {"lock", none, {{hex("020603"), hex("09")}}},
        {"program two blocks",
         none,
         {{hex("010300"), hex("03")},
          {dataFrame(0x11), hex("03")},
          {dataFrame(0x22), hex("03")},
          {endFrame(), hex("07")}}},
        {"program, two-byte reply", twoByte, {{hex("010300"), hex("03")}, {endFrame(), hex("0700")}}},
        {"auto, one-byte replies",
         none,
         {{hex("000102"), hex("0603")}, {dataFrame(0x5A), hex("03")}, {endFrame(), hex("07")}}},
        {"auto, two-byte replies",
         twoByte,
         {{hex("000102"), hex("060103")}, {dataFrame(0x5A), hex("03")}, {endFrame(), hex("0701")}}},
        {"verify stopped after two blocks",
         none,
         {{hex("000400"), {}},
          {hex("090400"), blockFrame(0, 0xFF)},
          {hex("090400"), blockFrame(1, 0xFF)},
          {hex("100400"), {}},
          {hex("090400"), {}}}},
        {"a new command ends a read",
         none,
         {{hex("000400"), {}}, {hex("000200"), hex("06")}, {hex("090000"), {}}}},
        {"garbage before a probe is dropped", none, {{hex("5A07050011"), {}}, {hex("FA0000"), hex("02")}}},
        {"frames outside their exchange are ignored whole",
         none,
         {{dataFrame(0x00), {}},
          {endFrame(), {}},
          {hex("090000"), {}},
          {hex("100000"), {}},
          {hex("FA0000"), hex("02")}}},
        {"lock level beyond 3 is not a command", none, {{hex("01060F"), {}}, {hex("FA0000"), hex("02")}}},
    };
    for (const auto& conversation : conversations) {
        SCOPED_TRACE(conversation.name);
        EngineOptions options;
        conversation.configure(options);
        Line line(options);
        for (size_t i = 0; i < conversation.steps.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(line.send(conversation.steps[i].in).toHex(' '), conversation.steps[i].out.toHex(' '));
        }
    }
}

TEST(SimEngine, ProgramStoresBlocksInOrderAndEraseRestoresTheErasedChip) {
    Line line;
    line.send(hex("060300")); // AT89S52
    line.send(dataFrame(0x11));
    QByteArray second = hex("0707");
    for (int i = 0; i < 16; ++i)
        second.append(char(i));
    line.send(second);
    EXPECT_EQ(line.send(endFrame()), hex("07"));

    const QByteArray& memory = line.engine.memory(6);
    ASSERT_EQ(memory.size(), 8192);
    EXPECT_EQ(memory.left(16), QByteArray(16, char(0x11)));
    EXPECT_EQ(memory.mid(16, 16), second.mid(2));
    EXPECT_EQ(memory.mid(32), QByteArray(8192 - 32, char(0xFF)));
    EXPECT_EQ(line.engine.memory(0), QByteArray(2048, char(0xFF))) << "other chips untouched";

    line.send(hex("060603"));
    EXPECT_EQ(line.engine.lockLevel(6), 3);
    line.send(hex("060601"));
    EXPECT_EQ(line.engine.lockLevel(6), 3) << "lock bits only add up";
    const auto before = line.engine.changeCount();
    line.send(hex("060200"));
    EXPECT_GT(line.engine.changeCount(), before);
    EXPECT_EQ(line.engine.memory(6), QByteArray(8192, char(0xFF)));
    EXPECT_EQ(line.engine.lockLevel(6), 0) << "erase clears the lock bits";
}

TEST(SimEngine, ReadOfAnAt89C2051Sends128FramesAndThenReadFinishedAlone) {
    Line line;
    QByteArray image(2048, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 7);
    ASSERT_TRUE(line.engine.setMemory(0, image));

    EXPECT_TRUE(line.send(hex("000400")).isEmpty());
    for (int block = 0; block < 127; ++block) {
        const QByteArray frame = line.send(hex("090400"));
        ASSERT_EQ(frame.size(), 18) << block;
        EXPECT_EQ(frame.mid(2), image.mid(block * 16, 16)) << block;
    }
    const auto last = line.timed(hex("090400"));
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0].first, 0);
    EXPECT_EQ(last[0].second.mid(2), image.right(16));
    EXPECT_GT(last[1].first, 0) << "0x11 comes apart from the last frame";
    EXPECT_EQ(last[1].second, hex("11"));
    EXPECT_TRUE(line.send(hex("090400")).isEmpty()) << "nothing past the end of the chip";
}

TEST(SimEngine, OutputThatFollowsOurOwnWaitsForTheReplyGap) {
    EngineOptions options;
    options.replyGap = 40 * ms;
    Line line(options);

    auto writes = line.timed(hex("000101"));
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], (std::pair<Micros, QByteArray>{0, hex("06")}));
    EXPECT_EQ(writes[1], (std::pair<Micros, QByteArray>{40 * ms, hex("03")}));

    line.now += 5 * ms;
    writes = line.timed(endFrame());
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], (std::pair<Micros, QByteArray>{40 * ms, hex("07")}));
}

TEST(SimEngine, StopOrANewCommandCancelsOutputStillWaiting) {
    EngineOptions options;
    options.replyGap = 40 * ms;
    Line line(options);
    line.send(hex("000400"));
    for (int block = 0; block < 127; ++block)
        line.send(hex("090400"));

    line.engine.receive(hex("090400"), line.now);
    EXPECT_EQ(line.engine.takeDue(line.now).size(), 18);
    line.engine.receive(hex("100000"), line.now + 10 * ms);
    EXPECT_TRUE(line.drain().isEmpty()) << "the stop came before 0x11 was due";

    // A data frame whose next request is waiting for the block time, then the end frame: no stray 0x03.
    EngineOptions slow;
    slow.blockTime = 30 * ms;
    slow.replyGap = 0;
    Line programming(slow);
    EXPECT_EQ(programming.send(hex("000300")), hex("03"));
    programming.engine.receive(dataFrame(0), programming.now);
    programming.engine.receive(endFrame(), programming.now + 10 * ms);
    EXPECT_EQ(programming.drain(), hex("07"));
}

TEST(SimEngine, PartialFramesCompleteAcrossReadsAndAreDroppedAfterTheFrameTimeout) {
    EngineOptions options;
    options.frameTimeout = 100 * ms;
    Line line(options);
    ASSERT_TRUE(line.engine.setMemory(0, QByteArray(2048, '\0')));

    line.engine.receive(hex("0002"), 0);
    line.engine.receive(hex("00"), 99 * ms);
    EXPECT_EQ(line.engine.takeDue(99 * ms), hex("06")) << "within the timeout the frame completes";

    line.engine.receive(hex("0102"), 200 * ms);
    line.engine.advance(300 * ms);
    EXPECT_EQ(line.engine.nextDeadline(), std::nullopt);
    line.engine.receive(hex("00FA0000"), 301 * ms);
    EXPECT_EQ(line.engine.takeDue(301 * ms), hex("02")) << "the stale 01 02 did not join the new bytes";
    EXPECT_EQ(line.engine.memory(1), QByteArray(4096, char(0xFF)));

    // The drop also happens when the next bytes bring the news.
    line.engine.receive(hex("0702"), 400 * ms);
    line.engine.receive(hex("FA0000"), 600 * ms);
    EXPECT_EQ(line.engine.takeDue(600 * ms), hex("02"));
}

TEST(SimEngine, StrayDataAfterTheEndFrameIsNeverTakenForCommands) {
    Line line;
    line.send(hex("000300"));
    line.send(dataFrame(0x33));
    line.send(endFrame());
    // A data frame whose contents would read as "erase chip 0" when taken apart.
    QByteArray stray = hex("0707");
    for (int i = 0; i < 5; ++i)
        stray += hex("000200");
    stray += hex("00");
    EXPECT_TRUE(line.send(stray).isEmpty());
    EXPECT_EQ(line.engine.memory(0).left(16), QByteArray(16, char(0x33)));
}

TEST(SimEngine, AFullChipAsksForNoMoreBlocksAndOverflowFails) {
    Line line;
    line.send(hex("000300"));
    for (int block = 0; block < 127; ++block)
        ASSERT_EQ(line.send(dataFrame(quint8(block))), hex("03"));
    EXPECT_TRUE(line.send(dataFrame(0xEE)).isEmpty()) << "block 127 fills the chip";
    EXPECT_EQ(line.send(endFrame()), hex("07"));
    EXPECT_EQ(line.engine.memory(0).right(16), QByteArray(16, char(0xEE)));

    line.send(hex("000300"));
    for (int block = 0; block < 128; ++block)
        line.send(dataFrame(0x44));
    EXPECT_EQ(line.send(dataFrame(0x55)), hex("01")) << "a block past the end cannot be stored";
}

TEST(SimEngine, InjectedFaults) {
    struct Case {
        const char* name;
        std::function<void(EngineOptions&)> configure;
        std::vector<Step> steps;
    };
    QByteArray corrupted = blockFrame(0x12, 0xFF);
    corrupted[2 + 3] = 0x00;
    const std::vector<Case> cases = {
        {"silence after 6 bytes",
         [](EngineOptions& o) { o.faults.silenceAfterBytes = 6; },
         {{hex("FA0000"), hex("02")}, {hex("000200"), hex("06")}, {hex("FA0000"), {}}, {hex("000200"), {}}}},
        {"silence in the middle of a frame",
         [](EngineOptions& o) { o.faults.silenceAfterBytes = 4; },
         {{hex("FA0000000200"), hex("02")}, {hex("FA0000"), {}}}},
        {"program fails at the end",
         [](EngineOptions& o) { o.faults.failProgram = true; },
         {{hex("000300"), hex("03")}, {dataFrame(1), hex("03")}, {endFrame(), hex("01")}}},
        {"program fails after block 1",
         [](EngineOptions& o) { o.faults.failAfterBlock = 1; },
         {{hex("000300"), hex("03")},
          {dataFrame(1), hex("03")},
          {dataFrame(2), hex("01")},
          {endFrame(), {}}}},
        {"extra bytes after each status reply",
         [](EngineOptions& o) { o.faults.extraBytes = hex("5AA5"); },
         {{hex("FA0000"), hex("025AA5")}, {hex("000300"), hex("035AA5")}, {endFrame(), hex("075AA5")}}},
        {"extra bytes after a two-byte reply",
         [](EngineOptions& o) {
             o.twoByteReplies = true;
             o.faults.extraBytes = hex("33");
         },
         {{hex("000102"), hex("0601") + hex("33") + hex("0333")}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineOptions options;
        c.configure(options);
        Line line(options);
        for (const auto& step : c.steps)
            EXPECT_EQ(line.send(step.in).toHex(' '), step.out.toHex(' '));
    }

    EngineOptions options;
    options.faults.corruptAddress = 0x123;
    Line line(options);
    line.send(hex("000400"));
    for (int block = 0; block < 0x12; ++block)
        ASSERT_EQ(line.send(hex("090400")), blockFrame(block, 0xFF));
    EXPECT_EQ(line.send(hex("090400")).toHex(' '), corrupted.toHex(' '));
    EXPECT_EQ(line.engine.memory(0), QByteArray(2048, char(0xFF))) << "only the frame is corrupted";
}

TEST(SimEngine, SplitBlockFramesLeaveInPiecesWithGaps) {
    struct Case {
        std::vector<int> cuts;
        std::vector<int> sizes;
    };
    std::vector<int> everyByte;
    for (int i = 1; i < 18; ++i)
        everyByte.push_back(i);
    const std::vector<Case> cases = {
        {{10}, {10, 8}},
        {{6, 12}, {6, 6, 6}},
        {everyByte, std::vector<int>(18, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cuts.size());
        EngineOptions options;
        options.faults.splitAt = c.cuts;
        options.splitGap = 5 * ms;
        Line line(options);
        line.send(hex("000400"));
        const auto writes = line.timed(hex("090400"));
        ASSERT_EQ(writes.size(), c.sizes.size());
        QByteArray joined;
        for (size_t i = 0; i < writes.size(); ++i) {
            EXPECT_EQ(writes[i].first, Micros(i) * 5 * ms);
            EXPECT_EQ(writes[i].second.size(), c.sizes[i]);
            joined += writes[i].second;
        }
        EXPECT_EQ(joined, blockFrame(0, 0xFF));
    }
}
