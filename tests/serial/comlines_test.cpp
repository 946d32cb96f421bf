// Modem-line events: the event thread learns of line changes from the device's modem-status wait, played
// here by the recording double (a pseudo-terminal has no modem lines).
#include "serialtestsupport.h"
#include "support/recordingdevice.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using platform::LineCTS;
using platform::LineDSR;
using platform::LineRing;
using platform::LineRLSD;

// Records the notifications, with the line state each signal event carried and where it ran.
class LinePort : public TComPort {
public:
    using TComPort::TComPort;
    std::vector<std::string> fired() {
        std::lock_guard lock(mutex_);
        return fired_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        fired_.clear();
    }
    std::atomic<bool> ranOnMain{true};
    std::atomic<bool> ranOffMain{false};

    void FireRing() override { note("ring"); }
    // Runs after the CTS notification is noted (a handler of the program's own).
    std::function<void()> onCTS;
    void FireCTSChange(bool on) override {
        note(on ? "cts on" : "cts off");
        if (onCTS) onCTS();
    }
    void FireDSRChange(bool on) override { note(on ? "dsr on" : "dsr off"); }
    void FireRLSDChange(bool on) override { note(on ? "rlsd on" : "rlsd off"); }
    void FireRxChar(int) override { note("rxchar"); }

private:
    void note(const std::string& what) {
        const bool main = QThread::currentThread() == QCoreApplication::instance()->thread();
        if (!main) ranOffMain = true;
        if (main) ranOnMain = true;
        std::lock_guard lock(mutex_);
        fired_.push_back(what);
    }
    std::mutex mutex_;
    std::vector<std::string> fired_;
};

struct LinesPort {
    PtyPair pty;
    std::shared_ptr<RecordingDevice::Log> log = std::make_shared<RecordingDevice::Log>();
    RecordingDevice* device = nullptr;
    std::unique_ptr<LinePort> port;

    explicit LinesPort(unsigned lines, bool scripted = true) {
        auto d = std::make_unique<RecordingDevice>(log);
        device = d.get();
        if (scripted) device->scriptLines(lines);
        port = std::make_unique<LinePort>(std::move(d));
        port->SetPort(pty.slavePath());
    }
    // Connects and waits until the line watcher sits in its wait, with the open reports cleared.
    void connect() {
        port->Connect();
        ASSERT_TRUE(waitUntil([&] { return device->lineWaitBlocked(); }));
        port->clear();
    }
};

} // namespace

TEST(ComLines, EachLineChangeFiresItsOwnEvent) {
    struct Case {
        const char* name;
        unsigned from, to;
        std::vector<std::string> fired;
    };
    const std::vector<Case> cases = {
        {"CTS up", 0, LineCTS, {"cts on"}},
        {"CTS down", LineCTS, 0, {"cts off"}},
        {"DSR up", 0, LineDSR, {"dsr on"}},
        {"carrier up", 0, LineRLSD, {"rlsd on"}},
        {"carrier lost", LineRLSD | LineCTS, LineCTS, {"rlsd off"}},
        {"ring", LineRing, 0, {"ring"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinesPort p(c.from);
        p.connect();
        p.device->setLines(c.to);
        ASSERT_TRUE(waitUntil([&] { return !p.port->fired().empty(); }));
        const auto wakes = p.port->EventWakeCount();
        waitUntil([] { return false; }, 50); // nothing repeated, no spinning
        EXPECT_EQ(p.port->fired(), c.fired);
        EXPECT_EQ(p.port->EventWakeCount(), wakes);
        p.port->Disconnect();
    }
}

TEST(ComLines, LinesChangedTogetherFireInTheFixedOrder) {
    LinesPort p(LineRing);
    p.connect();
    p.device->setLines(LineCTS | LineDSR | LineRLSD); // ring ends, three lines rise: one wake
    ASSERT_TRUE(waitUntil([&] { return p.port->fired().size() >= 4; }));
    EXPECT_EQ(p.port->fired(), (std::vector<std::string>{"ring", "cts on", "dsr on", "rlsd on"}));
}

TEST(ComLines, OnlyTheChosenEventsAreWaitedForAndFired) {
    LinesPort p(0);
    p.port->SetEvents({evDSR});
    p.connect();
    p.device->setLines(LineCTS); // not waited for: the wait goes on
    waitUntil([] { return false; }, 50);
    EXPECT_TRUE(p.device->lineWaitBlocked());
    p.device->setLines(LineCTS | LineDSR);
    ASSERT_TRUE(waitUntil([&] { return !p.port->fired().empty(); }));
    EXPECT_EQ(p.port->fired(), std::vector<std::string>{"dsr on"});
}

// The line changes again after the event thread has looked at the counters and before the line watcher is
// back in its wait (held between its waits): that change fires too, as every change does.
TEST(ComLines, AChangeBeforeTheWatcherWaitsAgainStillFires) {
    LinesPort p(0);
    p.connect();
    p.device->holdNextLineWait();
    p.device->setLinesAfterNextChange(0); // CTS drops right after the event thread's look
    p.device->setLines(LineCTS);
    ASSERT_TRUE(waitUntil([&] { return p.port->fired().size() >= 2; }));
    // Each delivery reads the line as it is by then: down.
    EXPECT_EQ(p.port->fired(), (std::vector<std::string>{"cts off", "cts off"}));
    const auto wakes = p.port->EventWakeCount();
    waitUntil([] { return false; }, 50);
    EXPECT_EQ(p.port->EventWakeCount(), wakes); // and nothing spins
    EXPECT_TRUE(p.device->lineWaitBlocked());
}

// A line-event handler closes and reopens its port while the line watcher stands between two waits: the old
// watcher is gone before the device closes, so the reopened device has one waiter, its events flow, and the
// next Disconnect ends its wait at once.
TEST(ComLines, AHandlerThatReopensItsPortLeavesOneWatcher) {
    LinesPort p(0);
    p.connect();
    p.device->holdNextLineWait();
    int calls = 0;
    std::chrono::steady_clock::duration closing{};
    p.port->onCTS = [&] {
        if (calls++ > 0) return; // the reports of the close and the open below come here too
        const auto start = std::chrono::steady_clock::now();
        p.port->Disconnect();
        closing = std::chrono::steady_clock::now() - start;
        p.port->Connect();
    };
    p.device->setLines(LineCTS);
    ASSERT_TRUE(waitUntil([&] { return calls > 0 && p.device->lineWaitBlocked(); }));
    EXPECT_TRUE(p.port->Connected());
    EXPECT_LT(closing, std::chrono::seconds(2)); // no hang
    waitUntil([] { return false; }, 200);        // time for a stale watcher to come back
    EXPECT_EQ(p.device->mostLineWaiters(), 1);

    p.port->clear();
    p.device->setLines(0);
    ASSERT_TRUE(waitUntil([&] { return !p.port->fired().empty(); }));
    EXPECT_EQ(p.port->fired(), std::vector<std::string>{"cts off"});

    const auto start = std::chrono::steady_clock::now();
    p.port->Disconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(p.device->lineWaitBlocked());
    EXPECT_EQ(p.device->mostLineWaiters(), 1);
}

TEST(ComLines, EverySyncMethodDeliversLineEvents) {
    for (TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
        SCOPED_TRACE(method);
        LinesPort p(0);
        p.port->SetSyncMethod(method);
        p.connect();
        p.port->ranOnMain = false;
        p.device->setLines(LineCTS | LineRLSD);
        if (method == smNone) {
            for (int i = 0; i < 10000 && p.port->fired().size() < 2; ++i)
                QThread::msleep(1); // the main loop is not served
        } else {
            ASSERT_TRUE(waitUntil([&] { return p.port->fired().size() >= 2; }));
        }
        EXPECT_EQ(p.port->fired(), (std::vector<std::string>{"cts on", "rlsd on"}));
        EXPECT_EQ(p.port->ranOffMain.load(), method == smNone);
        EXPECT_EQ(p.port->ranOnMain.load(), method != smNone);
        p.port->Disconnect();
    }
}

TEST(ComLines, DisconnectEndsABlockedLineWaitAtOnce) {
    LinesPort p(LineCTS);
    p.connect();
    ASSERT_TRUE(p.device->lineWaitBlocked());
    const auto start = std::chrono::steady_clock::now();
    p.port->Disconnect();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(p.device->lineWaitBlocked());
    EXPECT_EQ(p.device->lineWaitsCancelled(), 1);
    EXPECT_LT(took, std::chrono::seconds(2)); // no hang; the wait ends as soon as it is cancelled
    // The closing reports still come, and a reopened port waits again.
    EXPECT_EQ(p.port->fired(), (std::vector<std::string>{"cts off", "dsr off", "rlsd off"}));
    p.port->Connect();
    ASSERT_TRUE(waitUntil([&] { return p.device->lineWaitBlocked(); }));
    p.port->clear();
    p.device->setLines(0);
    ASSERT_TRUE(waitUntil([&] { return !p.port->fired().empty(); }));
    EXPECT_EQ(p.port->fired(), std::vector<std::string>{"cts off"});
}

TEST(ComLines, ADeviceWithoutModemLinesCostsNoWait) {
    LinesPort p(0, false); // the pseudo-terminal answers ENOTTY
    p.port->Connect();
    waitUntil([] { return false; }, 50);
    const auto wakes = p.port->EventWakeCount(); // at most the device's first report of room to write
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(p.device->lineWaitCalls(), 0);
    EXPECT_EQ(p.port->EventWakeCount(), wakes);
    p.port->clear();
    p.pty.send("a"); // the other events still flow
    ASSERT_TRUE(waitUntil([&] { return !p.port->fired().empty(); }));
    EXPECT_EQ(p.port->fired(), std::vector<std::string>{"rxchar"});
    p.port->Disconnect();
    EXPECT_EQ(p.device->lineWaitsCancelled(), 0);
}

TEST(ComLines, APseudoTerminalSaysItHasNoModemLines) {
    PtyPair pty;
    platform::TtyDevice device;
    ASSERT_EQ(device.open(platform::SerialDevice::devicePath(pty.slavePath().toStdString())), 0);
    platform::SerialLineChanges changes;
    EXPECT_EQ(device.lineChanges(changes), ENOTTY);
    EXPECT_EQ(device.waitLineChange(platform::LineCTS | platform::LineRing, changes), ENOTTY); // at once
    unsigned lines = 99;
    EXPECT_EQ(device.modemLines(lines), 0); // the plain query still reads as "no lines"
    EXPECT_EQ(lines, 0u);
    device.cancelLineWait();
    EXPECT_EQ(device.waitLineChange(platform::LineCTS, changes), ECANCELED);
}
