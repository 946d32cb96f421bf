// Opening and closing a port on a real line: written bytes leave before the close, bytes that arrived
// while nobody held the device are not taken for replies, and the exclusive hold ends with its process.
#include "platform/portholder.h"
#include "serialtestsupport.h"
#include "support/recordingdevice.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>

namespace {

struct DevicePort {
    std::shared_ptr<RecordingDevice::Log> log = std::make_shared<RecordingDevice::Log>();
    RecordingDevice* device = nullptr;
    std::unique_ptr<TComPort> port;

    explicit DevicePort(const QString& path) {
        auto d = std::make_unique<RecordingDevice>(log);
        device = d.get();
        port = std::make_unique<TComPort>(std::move(d));
        port->SetPort(path);
    }
};

// Wire time of n characters of 10 bits at 9600 baud, in ms.
int wireMs(int chars) {
    return (chars * 10 * 1000 + 9599) / 9600;
}

} // namespace

// Every way a port closes waits for its written bytes before it discards anything, and discards only input.
TEST(ComPortClose, WaitsForWrittenBytesThenDiscardsOnlyInput) {
    struct Case {
        const char* name;
        std::function<void(DevicePort&, PtyPair&)> close;
    };
    const std::vector<Case> cases = {
        {"Disconnect", [](DevicePort& p, PtyPair&) { p.port->Disconnect(); }},
        {"destroying the port", [](DevicePort& p, PtyPair&) { p.port.reset(); }},
        {"a port change", [](DevicePort& p, PtyPair& other) { p.port->SetPort(other.slavePath()); }},
        {"Connected = false", [](DevicePort& p, PtyPair&) { p.port->SetConnected(false); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPair pty, other;
        DevicePort p(pty.slavePath());
        p.port->Connect();
        const quint8 stop[3] = {0x10, 0x04, 0x00};
        ASSERT_EQ(p.port->WriteBytes(stop, 3), 3);
        p.device->heldOutput = 3; // as a UART still sending them would report
        p.log->clear();
        c.close(p, other);

        const auto& calls = p.log->calls;
        const int drain = p.log->first("drainOutput");
        const int discard = p.log->first("discardInput");
        const int closed = p.log->first("close");
        ASSERT_GE(drain, 0);
        EXPECT_LT(drain, discard);
        EXPECT_LT(discard, closed);
        EXPECT_EQ(p.log->first("discardOutput"), -1);
        // The wait covers the queued bytes' time on the wire, and stays short.
        ASSERT_FALSE(p.log->drainBounds.empty());
        EXPECT_GE(p.log->drainBounds.front(), wireMs(3));
        EXPECT_LE(p.log->drainBounds.front(), 250);
        EXPECT_EQ(pty.receive(3), QByteArray("\x10\x04\x00", 3)) << calls.size();
    }
}

// Flow control held off: the bytes cannot leave, and the close still ends after its bound, dropping them.
TEST(ComPortClose, AHeldLineClosesWithinItsBound) {
    PtyPair pty;
    DevicePort p(pty.slavePath());
    p.port->Connect();
    p.device->heldOutput = 4096;
    p.device->outputStuck = true;
    p.log->clear();
    p.port->Disconnect();
    EXPECT_FALSE(p.port->Connected());
    const auto& log = *p.log;
    EXPECT_LT(log.first("drainOutput"), log.first("discardOutput"));
    EXPECT_LT(log.first("discardOutput"), log.first("close"));
    EXPECT_LT(log.first("discardInput"), log.first("close"));
    // A full queue at 9600 baud: its wire time and a margin, not an open-ended wait.
    ASSERT_EQ(log.drainBounds.size(), 1u);
    EXPECT_GE(log.drainBounds[0], wireMs(4096));
    EXPECT_LE(log.drainBounds[0], wireMs(4096) + 250);
}

// A driver that reports its output queue empty at once, as most USB adapters do while they still hold the
// bytes (the pseudo-terminal under the double does the same): the close still gives the last write its time
// on the line at the port's rate, slow and custom rates included, and its bound covers that time.
TEST(ComPortClose, TheLastWriteGetsItsLineTimeWhenTheQueueReadsEmpty) {
    struct Case {
        const char* name;
        TBaudRate rate;
        int customRate;
        int bytes;
    };
    const std::vector<Case> cases = {
        {"110 baud", br110, 0, 3},
        {"9600 baud", br9600, 0, 64},
        {"custom 1000 baud", brCustom, 1000, 20},
        {"custom 45 baud, below 50", brCustom, 45, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPair pty;
        DevicePort p(pty.slavePath());
        p.port->SetBaudRate(c.rate);
        if (c.rate == brCustom) p.port->SetCustomBaudRate(c.customRate);
        const int rate = c.rate == brCustom ? c.customRate : (c.rate == br110 ? 110 : 9600);
        p.port->Connect();
        const QByteArray frame(c.bytes, '\x5a');
        ASSERT_EQ(p.port->WriteBytes(frame.constData(), c.bytes), c.bytes);
        p.port->Disconnect();

        const auto& log = *p.log;
        const int wrote = log.last("writeSome");
        const int closed = log.last("close");
        ASSERT_GE(wrote, 0);
        ASSERT_GT(closed, wrote);
        EXPECT_EQ(log.first("discardOutput"), -1);
        // 10 bits a character (8N1).
        const auto lineTime = std::chrono::nanoseconds(std::int64_t(c.bytes) * 10 * 1000000000 / rate);
        EXPECT_GE(log.times[closed] - log.times[wrote], lineTime);
        ASSERT_FALSE(log.drainBounds.empty());
        EXPECT_GE(std::chrono::milliseconds(log.drainBounds.back()), lineTime);
        EXPECT_EQ(pty.receive(c.bytes), frame);
    }
}

// The real device's drain ends by itself on a pseudo-terminal, which queues nothing.
TEST(ComPortClose, TheDeviceDrainReturnsWhenNothingIsQueued) {
    PtyPair pty;
    platform::TtyDevice device;
    ASSERT_EQ(device.open(pty.slavePath().toStdString()), 0);
    const unsigned char bytes[3] = {1, 2, 3};
    ASSERT_EQ(device.writeSome(bytes, 3), 3);
    EXPECT_EQ(device.drainOutput(5000), 0);
    EXPECT_EQ(pty.receive(3), QByteArray("\x01\x02\x03", 3));
}

// The last frame before a close reaches the far end every time (the old close threw it away with the
// output queue whenever the far end had not taken it yet).
TEST(ComPortClose, TheLastFrameBeforeACloseReachesTheFarEnd) {
    const int rounds = qEnvironmentVariableIntValue("CHIPWRIGHT_CLOSE_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("CHIPWRIGHT_CLOSE_ROUNDS")
                           : 200;
    PtyPair pty;
    int lost = 0;
    for (int i = 0; i < rounds; ++i) {
        TComPort port;
        port.SetPort(pty.slavePath());
        port.Connect();
        const quint8 frame[3] = {0x10, static_cast<quint8>(i), 0x00};
        port.WriteBytes(frame, 3);
        port.Disconnect();
        if (pty.receive(3, 2000) != QByteArray(reinterpret_cast<const char*>(frame), 3)) ++lost;
    }
    EXPECT_EQ(lost, 0) << "of " << rounds;
}

// Bytes that arrived while no program held the device are dropped at open, before anything is written, so
// they never pass for the answer to what this run sends.
TEST(ComPortOpen, StaleInputIsDiscardedBeforeTheFirstWrite) {
    PtyPair pty;
    DevicePort p(pty.slavePath());
    {
        // Another program's session leaves a reply behind.
        TComPort earlier;
        earlier.SetPort(pty.slavePath());
        earlier.Connect();
        pty.send(QByteArray("\x07\x01", 2));
        ASSERT_TRUE(waitUntil([&] { return earlier.InputQueueCount() == 2; }));
        earlier.OnRxChar = nullptr;
        earlier.Events() = {};
        // Closing without reading: the reply must still be in the device afterwards for this test to mean
        // anything, so the far end sends it again once the port is closed.
        earlier.Disconnect();
        pty.send(QByteArray("\x07\x01", 2));
    }
    int notified = 0;
    p.port->OnRxChar = [&](TCustomComPort*, int) { ++notified; };
    p.port->Connect();
    const auto& log = *p.log;
    EXPECT_LT(log.first("open"), log.first("applyLine"));
    EXPECT_LT(log.first("applyLine"), log.first("discardInput"));
    EXPECT_EQ(p.port->InputQueueCount(), 0);
    const quint8 probe[3] = {0xFA, 0, 0};
    p.port->WriteBytes(probe, 3);
    EXPECT_LT(log.first("discardInput"), log.first("writeSome"));
    pty.send(QByteArray("\x02", 1));
    ASSERT_TRUE(waitUntil([&] { return notified > 0; }));
    quint8 got[4] = {};
    EXPECT_EQ(p.port->ReadBytes(got, 4), 1);
    EXPECT_EQ(got[0], 0x02);
}

// The exclusive hold is a lock the kernel drops with its process: a killed holder leaves nothing behind, and
// the device is never put in the terminal's exclusive mode, which would outlive it.
TEST(ComPortConnect, AKilledHolderLeavesThePortFree) {
    PtyPair pty;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const QByteArray path = pty.slavePath().toLocal8Bit();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TComPort port;
        port.SetPort(pty.slavePath());
        char c = 'y';
        try {
            port.Connect();
        } catch (...) {
            c = 'n';
        }
        [[maybe_unused]] auto w = write(ready[1], &c, 1);
        for (;;)
            pause();
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');

    // While it lives: busy, and the holder is named.
    TComPort port;
    port.SetPort(pty.slavePath());
    EXPECT_EQ(raisedBy([&] { port.Connect(); }).SystemErrorCode(), EBUSY);
    EXPECT_EQ(platform::portHolder(path.toStdString()).rfind(std::to_string(child), 0), 0u)
        << platform::portHolder(path.toStdString());
    const int probe = open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);
    int exclusive = -1;
    ASSERT_EQ(ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(probe);

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(platform::portHolder(path.toStdString()), "");
    port.Connect();
    EXPECT_TRUE(port.Connected());
}
