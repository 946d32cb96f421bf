#include "serialtestsupport.h"

#include <QThread>

#include <atomic>
#include <vector>

namespace {

struct PtyPort {
    PtyPair pty;
    TComPort port;
    PtyPort() { port.SetPort(pty.slavePath()); }
};

// Records the notifications in the order they are made.
class OrderPort : public TComPort {
public:
    std::vector<std::string> fired;
    void FireRxChar(int) override { fired.push_back("rxchar"); }
    void FireTxEmpty() override { fired.push_back("txempty"); }
    void FireBreak() override { fired.push_back("break"); }
    void FireRing() override { fired.push_back("ring"); }
    void FireCTSChange(bool) override { fired.push_back("cts"); }
    void FireDSRChange(bool) override { fired.push_back("dsr"); }
    void FireRxFlag() override { fired.push_back("rxflag"); }
    void FireRLSDChange(bool) override { fired.push_back("rlsd"); }
    void FireRx80Full() override { fired.push_back("rx80full"); }
    void FireError(TComErrors) override { fired.push_back("error"); }
};

} // namespace

TEST(ComEvents, RxCharRunsOnTheMainThreadAndCarriesEverythingQueued) {
    PtyPort p;
    std::vector<int> counts;
    bool offMainThread = false;
    p.port.OnRxChar = [&](TCustomComPort* sender, int count) {
        offMainThread = offMainThread || QThread::currentThread() != QCoreApplication::instance()->thread();
        counts.push_back(count);
        std::vector<unsigned char> buffer(static_cast<std::size_t>(count));
        EXPECT_EQ(sender->ReadBytes(buffer.data(), count), count); // already queued: returns at once
    };
    p.port.Connect();

    // The main thread is busy (not serving its loop) while two bursts arrive.
    p.pty.send("abc");
    for (int i = 0; i < 10000 && p.port.PendingHandOvers() == 0; ++i)
        QThread::msleep(1);
    ASSERT_EQ(p.port.PendingHandOvers(), 1u);
    p.pty.send("de");
    int queued = 0;
    for (int i = 0; i < 2000 && queued < 5; ++i) {
        queued = p.port.InputQueueCount();
        QThread::msleep(1);
    }
    ASSERT_EQ(queued, 5);
    ASSERT_TRUE(waitUntil([&] { return !counts.empty(); }));
    EXPECT_EQ(counts, std::vector<int>{5});

    // The next arrival is delivered on its own: nothing stale or repeated in between.
    p.pty.send("f");
    ASSERT_TRUE(waitUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts, (std::vector<int>{5, 1}));
    EXPECT_FALSE(offMainThread);
}

TEST(ComEvents, UnreadBytesDoNotFireAgainUntilMoreArrive) {
    PtyPort p;
    std::vector<int> counts;
    p.port.OnRxChar = [&](TCustomComPort*, int count) { counts.push_back(count); };
    p.port.Connect();
    p.pty.send("ab");
    ASSERT_TRUE(waitUntil([&] { return counts.size() == 1; }));
    const auto wakes = p.port.EventWakeCount();
    p.pty.send("c");
    ASSERT_TRUE(waitUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts, (std::vector<int>{2, 3}));
    EXPECT_LE(p.port.EventWakeCount(), wakes + 3);
}

TEST(ComEvents, DeliveryFollowsTheFixedOrder) {
    PtyPair pty;
    OrderPort port;
    port.SetPort(pty.slavePath());
    port.SetEvents({});
    port.Connect();
    EXPECT_FALSE(port.EventThreadRunning()); // no events, no thread
    EXPECT_EQ(port.fired, (std::vector<std::string>{"cts", "dsr", "rlsd"}));
    port.fired.clear();

    pty.send("xy");
    ASSERT_TRUE(waitUntil([&] { return port.InputQueueCount() == 2; }));
    port.DeliverEvents(AllComEvents); // no line errors on a pty: evError finds nothing to report
    EXPECT_EQ(port.fired, (std::vector<std::string>{"rxchar", "txempty", "break", "ring", "cts", "dsr",
                                                    "rxflag", "rlsd", "rx80full"}));
    port.fired.clear();
    port.ProcessEventCode(32);
    EXPECT_EQ(port.fired, std::vector<std::string>{"rlsd"});
    port.fired.clear();
    port.ProcessEventCode(256);
    EXPECT_EQ(port.fired, std::vector<std::string>{"ring"});

    EXPECT_EQ(EventsToMask(AllComEvents), 0x7FFu & ~0x200u);
    EXPECT_EQ(MaskToEvents(0x7FF), AllComEvents);
    EXPECT_EQ(MaskToEvents(1 | 2048), TComEvents{evRxChar});

    port.fired.clear();
    port.Disconnect();
    EXPECT_EQ(port.fired, (std::vector<std::string>{"cts", "dsr", "rlsd"}));
}

TEST(ComEvents, OneWakeCanFireSeveralEventsInOrder) {
    PtyPair pty;
    OrderPort port;
    port.SetPort(pty.slavePath());
    port.Buffer().SetInputSize(10);
    port.Connect();
    port.fired.clear();
    pty.send("123456789");
    ASSERT_TRUE(waitUntil([&] { return port.fired.size() >= 2; }));
    EXPECT_EQ(port.fired, (std::vector<std::string>{"rxchar", "rx80full"}));
}

TEST(ComEvents, TxEmptyFollowsAWrite) {
    PtyPort p;
    int empties = 0;
    p.port.OnTxEmpty = [&](TCustomComPort*) { ++empties; };
    p.port.Connect();
    EXPECT_EQ(p.port.WriteBytes("abc", 3), 3);
    EXPECT_EQ(p.pty.receive(3), QByteArray("abc"));
    ASSERT_TRUE(waitUntil([&] { return empties == 1; }));
}

TEST(ComEvents, DisconnectCompletesWhileAHandOverIsInFlight) {
    for (TSyncMethod method : {smThreadSync, smWindowSync}) {
        SCOPED_TRACE(method);
        PtyPort p;
        p.port.SetSyncMethod(method);
        std::vector<int> counts;
        bool connectedInHandler = false;
        p.port.OnRxChar = [&](TCustomComPort* sender, int count) {
            counts.push_back(count);
            connectedInHandler = sender->Connected();
        };
        p.port.Connect();
        p.pty.send("zz");
        for (int i = 0; i < 10000 && p.port.PendingHandOvers() == 0; ++i)
            QThread::msleep(1);
        ASSERT_EQ(p.port.PendingHandOvers(), 1u);
        p.port.Disconnect(); // serves the hand-over while it waits for the thread
        EXPECT_FALSE(p.port.Connected());
        EXPECT_EQ(counts, std::vector<int>{2});
        EXPECT_TRUE(connectedInHandler);
    }
}

TEST(ComEvents, WithoutSynchronisationHandlersRunOnTheEventThread) {
    PtyPort p;
    p.port.SetSyncMethod(smNone);
    std::atomic<int> total{0};
    std::atomic<bool> onMain{false};
    p.port.OnRxChar = [&](TCustomComPort* sender, int count) {
        onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
        std::vector<unsigned char> buffer(static_cast<std::size_t>(count));
        total += sender->ReadBytes(buffer.data(), count);
    };
    p.port.Connect();
    p.pty.send("12345");
    for (int i = 0; i < 10000 && total < 5; ++i)
        QThread::msleep(1); // the main loop is not served
    EXPECT_EQ(total.load(), 5);
    EXPECT_FALSE(onMain.load());
}

TEST(ComEvents, AFailingHandlerEndsTheThreadQuietly) {
    PtyPort p;
    int calls = 0;
    p.port.OnRxChar = [&](TCustomComPort*, int) {
        ++calls;
        throw EComPort(CError_ReadFailed, 5);
    };
    p.port.Connect();
    p.pty.send("a");
    ASSERT_TRUE(waitUntil([&] { return !p.port.EventThreadRunning(); }));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(p.port.Connected());
    unsigned char buffer[4];
    EXPECT_EQ(p.port.ReadBytes(buffer, 4), 1); // the queue is left for the program
    EXPECT_EQ(p.port.WriteBytes("ok", 2), 2);
    p.pty.send("b");
    EXPECT_EQ(p.pty.receive(2), QByteArray("ok"));
    p.port.Disconnect();
    EXPECT_EQ(calls, 1);
}

TEST(ComEvents, AVanishedDeviceDoesNotMakeTheThreadSpin) {
    PtyPort p;
    int calls = 0;
    p.port.OnRxChar = [&](TCustomComPort*, int) { ++calls; };
    p.port.Connect();
    p.pty.closeMaster();
    ASSERT_TRUE(waitUntil([&] { return p.port.EventWakeCount() >= 1; }));
    // Give a spinning thread every chance to show itself, then count its wake-ups.
    const auto before = p.port.EventWakeCount();
    waitUntil([] { return false; }, 300);
    EXPECT_LE(p.port.EventWakeCount(), before + 1);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(raisedBy([&] { p.port.WriteBytes("x", 1); }).PortErrorCode(), 2);
    p.port.Disconnect();
    EXPECT_FALSE(p.port.Connected());
}

TEST(ComEvents, AHandlerMayCloseAndReopenItsPort) {
    PtyPort p;
    int calls = 0;
    p.port.OnRxChar = [&](TCustomComPort* sender, int) {
        ++calls;
        sender->Disconnect(); // the event thread is waiting for this very handler
    };
    p.port.Connect();
    p.pty.send("a");
    ASSERT_TRUE(waitUntil([&] { return !p.port.Connected(); }));
    EXPECT_EQ(calls, 1);
    p.port.Connect();
    p.pty.send("b");
    ASSERT_TRUE(waitUntil([&] { return calls == 2; }));
    EXPECT_FALSE(p.port.Connected());
}
