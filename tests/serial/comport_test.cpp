#include "platform/serialdevice.h"
#include "serialtestsupport.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct LineCase {
    const char* name;
    std::function<void(TComPort&)> setup;
    std::function<void(const PtyPair::LineState&)> check;
};

} // namespace

// A pseudo-terminal always reports 8 data bits and no parity enable whatever it is given (the pty driver
// forces them), so those two are checked on the device-control record; everything else is read back from the
// kernel.
TEST(ComPortConnect, PushesTheSettingsToTheDevice) {
    const std::vector<LineCase> cases = {
        {"defaults", [](TComPort&) {},
         [](const PtyPair::LineState& s) {
             EXPECT_EQ(s.ospeed, 9600u);
             EXPECT_EQ(s.dataBits, 8);
             EXPECT_FALSE(s.parity);
             EXPECT_FALSE(s.twoStopBits);
             EXPECT_FALSE(s.crtscts);
             EXPECT_FALSE(s.ixon || s.ixoff);
             EXPECT_EQ(s.vmin, 0);
             EXPECT_EQ(s.vtime, 0);
         }},
        {"7E2 hardware flow 115200",
         [](TComPort& p) {
             p.SetBaudRate(br115200);
             p.SetDataBits(dbSeven);
             p.Parity().SetBits(prEven);
             p.SetStopBits(sbTwoStopBits);
             p.FlowControl().SetFlowControl(fcHardware);
         },
         [](const PtyPair::LineState& s) {
             EXPECT_EQ(s.ospeed, 115200u);
             EXPECT_FALSE(s.oddParity);
             EXPECT_TRUE(s.twoStopBits);
             EXPECT_TRUE(s.crtscts);
         }},
        {"5 bits mark parity 1.5 stop software flow",
         [](TComPort& p) {
             p.SetDataBits(dbFive);
             p.Parity().SetBits(prMark);
             p.Parity().SetCheck(true);
             p.SetStopBits(sbOne5StopBits);
             p.FlowControl().SetFlowControl(fcSoftware);
             p.FlowControl().SetXonChar('Q');
             p.FlowControl().SetXoffChar('S');
         },
         [](const PtyPair::LineState& s) {
             EXPECT_TRUE(s.oddParity && s.markSpace);
             EXPECT_TRUE(s.inpck);
             EXPECT_TRUE(s.twoStopBits); // 1.5 is sent as CSTOPB, which a UART gives as 1.5 with 5 data bits
             EXPECT_TRUE(s.ixon && s.ixoff);
             EXPECT_EQ(s.vstart, 'Q');
             EXPECT_EQ(s.vstop, 'S');
         }},
        {"space parity 6 bits",
         [](TComPort& p) {
             p.SetDataBits(dbSix);
             p.Parity().SetBits(prSpace);
         },
         [](const PtyPair::LineState& s) {
             EXPECT_TRUE(s.markSpace);
             EXPECT_FALSE(s.oddParity);
         }},
        {"custom rate outside the table",
         [](TComPort& p) {
             p.SetBaudRate(brCustom);
             p.SetCustomBaudRate(31250);
         },
         [](const PtyPair::LineState& s) {
             EXPECT_TRUE(s.customRate);
             EXPECT_EQ(s.ospeed, 31250u);
             EXPECT_EQ(s.ispeed, 31250u);
         }},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPair pty;
        ASSERT_TRUE(pty.ok());
        TComPort port;
        port.SetPort(pty.slavePath());
        c.setup(port);
        port.Connect();
        ASSERT_TRUE(port.Connected());
        c.check(pty.lineState());
        const TComDeviceControl dcb = port.BuildDeviceControl();
        EXPECT_EQ(dcb.ByteSize, 5 + port.DataBits());
        EXPECT_EQ(dcb.Parity, port.Parity().Bits());
        EXPECT_EQ(dcb.StopBits, port.StopBits());
    }
}

TEST(ComPortConnect, CustomRateIsPushedAtOnceWhileOpenAndAtConnectWhileClosed) {
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.slavePath());
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.Connect();
    EXPECT_EQ(pty.lineState().ospeed, 250000u);
    port.SetCustomBaudRate(12345);
    EXPECT_EQ(pty.lineState().ospeed, 12345u);
    port.SetBaudRate(br19200);
    EXPECT_EQ(pty.lineState().ospeed, 19200u);
    EXPECT_FALSE(pty.lineState().customRate);
}

TEST(ComPortConnect, ABatchPushesOnceWhenTheOutermostBatchEnds) {
    PtyPair pty;
    RecordingPort port;
    port.SetPort(pty.slavePath());
    port.Connect();
    EXPECT_EQ(port.pushes, (std::vector<std::string>{"buffer", "line", "timeouts"}));
    port.pushes.clear();

    port.EndSettingsBatch(); // without a begin: nothing
    EXPECT_TRUE(port.pushes.empty());

    port.BeginSettingsBatch();
    port.BeginSettingsBatch();
    port.SetBaudRate(br57600);
    port.SetDataBits(dbSeven);
    port.Parity().SetBits(prOdd);
    port.Timeouts().SetWriteTotalConstant(500);
    port.Buffer().SetInputSize(2048);
    port.EndSettingsBatch();
    EXPECT_TRUE(port.pushes.empty());
    EXPECT_EQ(pty.lineState().ospeed, 9600u);
    port.EndSettingsBatch();
    EXPECT_EQ(port.pushes, (std::vector<std::string>{"buffer", "line", "timeouts"}));
    EXPECT_EQ(pty.lineState().ospeed, 57600u);
    EXPECT_TRUE(pty.lineState().oddParity);

    port.pushes.clear();
    port.SetBaudRate(br57600); // unchanged: no push
    EXPECT_TRUE(port.pushes.empty());
}

TEST(ComPortConnect, OpenFailuresGiveCodeOneWithTheSystemError) {
    TComPort port;
    port.SetPort(QStringLiteral("/dev/chipwright-no-such-port"));
    const EComPort missing = raisedBy([&] { port.Connect(); });
    EXPECT_EQ(missing.PortErrorCode(), 1);
    EXPECT_EQ(missing.SystemErrorCode(), ENOENT);
    EXPECT_EQ(missing.Message(), QStringLiteral("Unable to open com port (win error code: %1)").arg(ENOENT));
    EXPECT_FALSE(port.Connected());

    // Held by this process through another port object.
    PtyPair pty;
    TComPort first, second;
    first.SetPort(pty.slavePath());
    second.SetPort(pty.slavePath());
    first.Connect();
    const EComPort busy = raisedBy([&] { second.Connect(); });
    EXPECT_EQ(busy.PortErrorCode(), 1);
    EXPECT_EQ(busy.SystemErrorCode(), EBUSY);
    EXPECT_FALSE(second.Connected());
    first.Connect(); // a second Connect while open does nothing
    EXPECT_TRUE(first.Connected());
    first.Disconnect();
    second.Connect();
    EXPECT_TRUE(second.Connected());
}

TEST(ComPortConnect, APortHeldByAnotherProcessIsBusy) {
    PtyPair pty;
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const QByteArray path = pty.slavePath().toLocal8Bit();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = open(path.constData(), O_RDWR | O_NOCTTY);
        char c = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
        [[maybe_unused]] auto w = write(ready[1], &c, 1);
        [[maybe_unused]] auto r = read(release[0], &c, 1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    TComPort port;
    port.SetPort(pty.slavePath());
    const EComPort busy = raisedBy([&] { port.Connect(); });
    EXPECT_EQ(busy.PortErrorCode(), 1);
    EXPECT_EQ(busy.SystemErrorCode(), EBUSY);
    EXPECT_FALSE(port.Connected());
    [[maybe_unused]] auto w = write(release[1], "x", 1);
    waitpid(child, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        close(fd);
    port.Connect();
    EXPECT_TRUE(port.Connected());
}

TEST(ComPortSettings, SetterRulesAndDerivedValues) {
    TComPort port;
    // Flow-control summary.
    port.FlowControl().SetFlowControl(fcHardware);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
    port.FlowControl().SetControlDTR(dtrHandshake);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
    port.FlowControl().SetOutDSRFlow(true);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
    port.FlowControl().SetXonXoffIn(true);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcCustom);
    port.FlowControl().SetFlowControl(fcCustom); // changes nothing
    EXPECT_TRUE(port.FlowControl().XonXoffIn());
    port.FlowControl().SetFlowControl(fcNone);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(port.FlowControl().ControlDTR(), dtrHandshake); // never touched by a preset
    EXPECT_TRUE(port.FlowControl().OutDSRFlow());

    // Queue sizes stay even; the Xon/Xoff limits follow the input size.
    port.Buffer().SetInputSize(1025);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    port.Buffer().SetInputSize(1);
    EXPECT_EQ(port.Buffer().InputSize(), 0);
    port.Buffer().SetInputSize(-3);
    EXPECT_EQ(port.Buffer().InputSize(), -3);
    port.Buffer().SetInputSize(1000);
    EXPECT_EQ(port.BuildDeviceControl().XonLim, 250);
    EXPECT_EQ(port.BuildDeviceControl().XoffLim, 250);

    TComPort fresh;
    const TComDeviceControl dcb = fresh.BuildDeviceControl();
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.Flags, 1u);
    EXPECT_EQ(dcb.XonLim, 256);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);
    EXPECT_EQ(fresh.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(fresh.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(fresh.Timeouts().WriteTotalConstant(), 1000);

    // Assigning an option object copies its fields, not its owner.
    TComParity parity;
    parity.SetBits(prOdd);
    parity.SetReplace(true);
    fresh.SetParity(parity);
    EXPECT_EQ(fresh.Parity().Bits(), prOdd);
    EXPECT_TRUE(fresh.Parity().Replace());
}

TEST(ComPortSettings, SyncMethodIsRefusedWhileConnected) {
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.slavePath());
    port.SetSyncMethod(smNone);
    port.SetSyncMethod(smThreadSync);
    port.Connect();
    const EComPort refused = raisedBy([&] { port.SetSyncMethod(smWindowSync); });
    EXPECT_EQ(refused.PortErrorCode(), 14);
    EXPECT_EQ(refused.SystemErrorCode(), -1);
    EXPECT_EQ(refused.Message(), QStringLiteral("Cannot set property while connected"));
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
}

TEST(ComPortSettings, ChangingThePortReopensOnTheNewDevice) {
    PtyPair a, b;
    TComPort port;
    int opens = 0;
    port.OnAfterOpen = [&](TCustomComPort*) { ++opens; };
    port.SetPort(a.slavePath());
    port.Connect();
    port.SetPort(b.slavePath());
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(opens, 2);
    EXPECT_EQ(port.WriteBytes("xyz", 3), 3);
    EXPECT_EQ(b.receive(3), QByteArray("xyz"));
    port.SetPort(b.slavePath());
    EXPECT_EQ(opens, 2);
    // The first device was released.
    TComPort other;
    other.SetPort(a.slavePath());
    other.Connect();
    EXPECT_TRUE(other.Connected());
}

TEST(ComPortSettings, PseudoTerminalsHaveNoLinesAndNoErrors) {
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.slavePath());
    std::vector<bool> signalReports;
    port.OnCTSChange = [&](TCustomComPort*, bool on) { signalReports.push_back(on); };
    port.Connect();
    EXPECT_TRUE(port.ModemSignals().empty());
    EXPECT_TRUE(port.TakeLineErrors().empty());
    EXPECT_EQ(port.InputQueueCount(), 0);
    port.Disconnect();
    EXPECT_EQ(signalReports, (std::vector<bool>{false, false}));
}

TEST(ComPortTransfers, ReadsAndWritesWithTheDefaultTimeouts) {
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.slavePath());
    port.Connect();

    unsigned char buffer[16] = {};
    EXPECT_EQ(port.ReadBytes(buffer, sizeof buffer), 0); // nothing queued: returns at once
    EXPECT_EQ(port.WriteBytes("\xFA\x00\x00", 3), 3);
    EXPECT_EQ(pty.receive(3), QByteArray("\xFA\x00\x00", 3));
    EXPECT_EQ(port.WriteBytes("", 0), 0);

    pty.send(QByteArray("\x03\x07hello", 7));
    ASSERT_TRUE(waitUntil([&] { return port.InputQueueCount() == 7; }));
    EXPECT_EQ(port.ReadBytes(buffer, 4), 4);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(buffer), 4), QByteArray("\x03\x07he", 4));
    EXPECT_EQ(port.ReadBytes(buffer, sizeof buffer), 3);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(buffer), 3), QByteArray("llo"));
}

TEST(ComPortTransfers, FailuresAndAborts) {
    TComPort closed;
    const EComPort write = raisedBy([&] { closed.WriteBytes("abc", 3); });
    EXPECT_EQ(write.PortErrorCode(), 2);
    EXPECT_EQ(write.SystemErrorCode(), EBADF);
    EXPECT_FALSE(closed.Connected());
    EXPECT_EQ(raisedBy([&] { closed.ReadBytes(nullptr, 0); }).PortErrorCode(), 3);

    const EComPort invalid = raisedBy([&] { closed.AwaitTransfer(nullptr); });
    EXPECT_EQ(invalid.PortErrorCode(), 4);
    EXPECT_EQ(invalid.Message(), QStringLiteral("Invalid Async parameter"));

    PtyPair pty;
    TComPort port;
    port.SetPort(pty.slavePath());
    TComTimeouts waiting;
    waiting.SetReadInterval(0); // no limits at all: a read waits for its whole count
    port.SetTimeouts(waiting);
    port.Connect();
    unsigned char buffer[8];
    PComTransfer t = nullptr;
    NewTransfer(t);
    EXPECT_EQ(port.StartRead(buffer, 8, t), 0);
    port.AbortTransfers();
    const EComPort aborted = raisedBy([&] { port.AwaitTransfer(t); });
    EXPECT_EQ(aborted.PortErrorCode(), 3);
    EXPECT_EQ(aborted.SystemErrorCode(), ECANCELED);
    FreeTransfer(t);
    EXPECT_EQ(t, nullptr);

    // A transfer started after the abort is not affected by it.
    pty.send("12345678");
    EXPECT_EQ(port.ReadBytes(buffer, 8), 8);
}

TEST(ComPortTransfers, AWriteIsBoundedByTheWriteTimeouts) {
    PtyPair pty; // nobody reads the far end: the device fills up
    TComPort port;
    port.SetPort(pty.slavePath());
    TComTimeouts t;
    t.SetWriteTotalMultiplier(0);
    t.SetWriteTotalConstant(300);
    port.SetTimeouts(t);
    port.FlowControl().SetFlowControl(fcNone);
    port.Connect();
    std::vector<unsigned char> block(1 << 20, 0x55);
    const std::int32_t sent = port.WriteBytes(block.data(), static_cast<std::int32_t>(block.size()));
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<std::int32_t>(block.size()));
}

TEST(ComPortConnect, PortNamesMapToDevicePaths) {
    const std::vector<std::pair<std::string, std::string>> names = {
        {"COM1", "/dev/ttyS0"},       {"COM10", "/dev/ttyS9"},     {"com2", "/dev/ttyS1"},
        {"/dev/pts/7", "/dev/pts/7"}, {"ttyUSB0", "/dev/ttyUSB0"}, {"COM0", "/dev/COM0"},
        {"COMX", "/dev/COMX"},        {"ttyACM1", "/dev/ttyACM1"},
        // From the current folder only when it says so: "x" and ".x" stay below /dev.
        {"./x", "./x"},               {"../lab/x", "../lab/x"},    {".x", "/dev/.x"},
        {"x/./y", "/dev/x/./y"},
    };
    for (const auto& [name, path] : names)
        EXPECT_EQ(platform::SerialDevice::devicePath(name), path) << name;
}
