#include "simprocess.h"
#include "support/tempconfig.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QByteArray dataFrame(const QByteArray& block) {
    return hex("0707") + block;
}

QByteArray blockOf(int block) {
    QByteArray bytes;
    for (int i = 0; i < 16; ++i)
        bytes.append(char(block * 16 + i));
    return bytes;
}

// The offset of chip 0's image in a state file: just after the "data" line.
qsizetype imageStart(const QByteArray& state) {
    return state.indexOf("\ndata\n") + 6;
}

} // namespace

TEST(SimProcess, ProbeEraseProgramReadAndLockThroughThePseudoTerminal) {
    QTemporaryDir dir;
    const QString state = dir.filePath("chips.state");
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--state", state, "--exit-after-idle", "60000", "--reply-gap", "5"}));

    sim.send(hex("FA0000"));
    EXPECT_EQ(sim.receive(1), hex("02"));
    sim.send(hex("000200"));
    EXPECT_EQ(sim.receive(1), hex("06"));

    sim.send(hex("000300"));
    ASSERT_EQ(sim.receive(1), hex("03"));
    for (int block = 0; block < 3; ++block) {
        sim.send(dataFrame(blockOf(block)));
        ASSERT_EQ(sim.receive(1), hex("03")) << block;
    }
    sim.send(hex("08") + QByteArray(17, '\0'));
    EXPECT_EQ(sim.receive(1), hex("07"));

    sim.send(hex("000400"));
    for (int block = 0; block < 128; ++block) {
        sim.send(hex("090400"));
        const QByteArray frame = sim.receive(18);
        ASSERT_EQ(frame.size(), 18) << block;
        EXPECT_EQ(frame.mid(2), block < 3 ? blockOf(block) : QByteArray(16, char(0xFF))) << block;
    }
    EXPECT_EQ(sim.receive(1), hex("11"));

    sim.send(hex("000602"));
    EXPECT_EQ(sim.receive(1), hex("09"));
    EXPECT_EQ(sim.terminate(), 0) << sim.errorOutput().toStdString();

    const QByteArray saved = readWholeFile(state);
    EXPECT_TRUE(saved.startsWith("chipwright-sim state 1\nchip 0 AT89C2051 2048 lock 2\n"));
    EXPECT_TRUE(saved.contains("\nchip 7 AT89S53 12288 lock 0\ndata\n"));
    ASSERT_EQ(saved.size(), imageStart(saved) + 63488);
    EXPECT_EQ(saved.mid(imageStart(saved), 48), blockOf(0) + blockOf(1) + blockOf(2));
    EXPECT_EQ(saved.mid(imageStart(saved) + 48, 2048 - 48), QByteArray(2048 - 48, char(0xFF)));

    // A second run starts from the saved chips, and the host may close and reopen the device at will.
    SimProcess again;
    ASSERT_TRUE(again.start({"--state", state, "--exit-after-idle", "60000"}));
    again.closeDevice();
    ASSERT_TRUE(again.openDevice());
    again.send(hex("000400090400090400"));
    EXPECT_EQ(again.receive(36).mid(20), blockOf(1));
    again.closeDevice();
    ASSERT_TRUE(again.openDevice());
    again.send(hex("FA0000"));
    EXPECT_EQ(again.receive(1), hex("02"));
    EXPECT_EQ(again.terminate(), 0);
}

TEST(SimProcess, ExitsByItselfWhenIdleAndRejectsBadUsage) {
    SimProcess idle;
    ASSERT_TRUE(idle.start({"--exit-after-idle", "200"}));
    EXPECT_EQ(idle.waitForExit(20000), 0);

    QTemporaryDir dir;
    writeWholeFile(dir.filePath("bad.state"), "not a state file\n");
    const struct {
        QStringList arguments;
        int exitCode;
        const char* output;
    } cases[] = {
        {{"--help"}, 0, "Usage: chipwright-sim"},
        {{"--no-such-option"}, 2, "unknown option"},
        {{"--split", "18"}, 2, "--split"},
        {{"--state", dir.filePath("bad.state")}, 2, "not a chipwright-sim state file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess process;
        process.start(SimProcess::executable(), c.arguments);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitCode(), c.exitCode);
        EXPECT_TRUE((process.readAllStandardOutput() + process.readAllStandardError()).contains(c.output));
    }
    EXPECT_EQ(readWholeFile(dir.filePath("bad.state")), "not a state file\n") << "a bad state file is kept";
}

TEST(SimProcess, HangupAfterNBytesClosesTheDeviceLikeAnUnpluggedAdapter) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--hangup-after", "6", "--exit-after-idle", "60000"}));
    sim.send(hex("FA0000"));
    EXPECT_EQ(sim.receive(1), hex("02"));
    sim.send(hex("000200FA0000"));
    EXPECT_EQ(sim.waitForExit(), 0);
    // The device is gone: reading it fails at once instead of waiting for bytes.
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(sim.receive(1, 20000).isEmpty());
    EXPECT_LT(timer.elapsed(), 15000);
}

TEST(SimProcess, PacedAtABaudRateFramesTakeTheirWireTime) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--baud", "1200", "--exit-after-idle", "60000"}));
    sim.send(hex("000400"));
    QElapsedTimer timer;
    timer.start();
    sim.send(hex("090400"));
    // 3 bytes in and 18 out at 1200 baud: at least 21 x 8.3 ms, whatever the machine's speed.
    EXPECT_EQ(sim.receive(18, 20000), hex("0000") + QByteArray(16, char(0xFF)));
    EXPECT_GE(timer.elapsed(), 170);
    EXPECT_EQ(sim.terminate(), 0);
}

TEST(SimProcess, ExitsWhenStandardInputClosesIfAsked) {
    QProcess process;
    process.start(SimProcess::executable(), {"--exit-on-stdin-close", "--exit-after-idle", "60000"});
    ASSERT_TRUE(process.waitForStarted(10000));
    ASSERT_TRUE(process.waitForReadyRead(10000));
    EXPECT_TRUE(process.readLine().startsWith("/dev/"));
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0);
}
