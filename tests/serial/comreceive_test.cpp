// What the port makes of received bytes before anyone counts or reads them: zero bytes dropped, the event
// character noticed, bytes that arrived with a parity error replaced or passed on, a real 0xFF kept.
#include "serialtestsupport.h"
#include "support/recordingdevice.h"

#include <asm/termbits.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

struct Rules {
    bool discardNull = false;
    bool check = false;
    bool replace = false;
    unsigned char replaceChar = 0;
};

void apply(TCustomComPort& port, const Rules& r) {
    port.SetDiscardNull(r.discardNull);
    TComParity parity;
    parity.SetCheck(r.check);
    parity.SetReplace(r.replace);
    parity.SetReplaceChar(r.replaceChar);
    port.SetParity(parity);
}

// Reads whatever the port has queued, after waiting until it holds want bytes (or a generous deadline).
Bytes readQueued(TCustomComPort& port, int want) {
    waitUntil([&] { return port.InputQueueCount() >= want; }, 3000);
    const int count = port.InputQueueCount();
    Bytes got(static_cast<std::size_t>(count));
    if (count > 0) got.resize(static_cast<std::size_t>(port.ReadBytes(got.data(), count)));
    return got;
}

// A port on a recording double over a pseudo-terminal, with no event thread of its own.
struct SeamPort {
    PtyPair pty;
    std::shared_ptr<RecordingDevice::Log> log = std::make_shared<RecordingDevice::Log>();
    RecordingDevice* device = nullptr;
    std::unique_ptr<TComPort> port;
    SeamPort() {
        auto d = std::make_unique<RecordingDevice>(log);
        device = d.get();
        port = std::make_unique<TComPort>(std::move(d));
        port->SetPort(pty.slavePath());
        port->SetEvents({});
    }
};

} // namespace

// The far end's bytes through a real line discipline: what is counted is what is read.
TEST(ComReceive, BytesFromThePseudoTerminalAreCountedAndReadAfterTheRules) {
    struct Case {
        const char* name;
        Rules rules;
        Bytes sent;
        Bytes read;
    };
    const std::vector<Case> cases = {
        {"plain", {}, {'a', 0, 'b'}, {'a', 0, 'b'}},
        {"zero bytes dropped", {true}, {'a', 0, 'b', 0, 0}, {'a', 'b'}},
        {"only zero bytes", {true}, {0, 0, 0, 'z'}, {'z'}},
        {"checked 0xFF stays one 0xFF",
         {false, true},
         {'a', 0xFF, 'b', 0xFF, 0xFF},
         {'a', 0xFF, 'b', 0xFF, 0xFF}},
        {"checked with replacement", {true, true, true, '?'}, {0xFF, 0, 0xFF, 'c'}, {0xFF, 0xFF, 'c'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPair pty;
        TComPort port;
        port.SetPort(pty.slavePath());
        port.SetEvents({});
        apply(port, c.rules);
        port.Connect();
        pty.send(QByteArray(reinterpret_cast<const char*>(c.sent.data()), static_cast<int>(c.sent.size())));
        EXPECT_EQ(readQueued(port, static_cast<int>(c.read.size())), c.read);
        EXPECT_EQ(port.InputQueueCount(), 0);
        port.Disconnect();
    }
}

TEST(ComReceive, ParityCheckAsksTheDeviceToMarkBadBytes) {
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.slavePath());
    port.Connect();
    EXPECT_EQ(pty.lineState().iflag & (INPCK | PARMRK), 0u);
    TComParity parity;
    parity.SetCheck(true);
    port.SetParity(parity);
    EXPECT_EQ(pty.lineState().iflag & (INPCK | PARMRK), unsigned(INPCK | PARMRK));
}

// Marked bytes as a UART's driver delivers them, in the pieces the reads happen to get.
TEST(ComReceive, MarkedBytesAreReplacedOrPassedOn) {
    struct Case {
        const char* name;
        Rules rules;
        std::vector<Bytes> pieces;
        Bytes read;
    };
    const std::vector<Case> cases = {
        {"replaced", {false, true, true, '?'}, {{'a', 0xFF, 0x00, 'x', 'b'}}, bytes("a?b")},
        {"passed on as received", {false, true, false, '?'}, {{'a', 0xFF, 0x00, 'x', 'b'}}, bytes("axb")},
        {"escaped 0xFF", {false, true, true, '?'}, {{0xFF, 0xFF, 'b'}}, {0xFF, 'b'}},
        {"escaped 0xFF then a bad byte",
         {false, true, true, '?'},
         {{0xFF, 0xFF, 0xFF, 0x00, 0xFF}},
         {0xFF, '?'}},
        {"bad 0xFF passed on", {false, true, false, 0}, {{0xFF, 0x00, 0xFF}}, {0xFF}},
        {"break replaced", {false, true, true, '?'}, {{0xFF, 0x00, 0x00}}, bytes("?")},
        {"break dropped as a zero byte", {true, true, false, 0}, {{'a', 0xFF, 0x00, 0x00, 'b'}}, bytes("ab")},
        {"replacement by zero dropped", {true, true, true, 0}, {{'a', 0xFF, 0x00, 'x'}}, bytes("a")},
        {"mark cut after 0xFF", {false, true, true, '?'}, {{'a', 0xFF}, {0x00, 'x', 'b'}}, bytes("a?b")},
        {"mark cut after 0x00", {false, true, true, '?'}, {{'a', 0xFF, 0x00}, {'x', 'b'}}, bytes("a?b")},
        {"escape cut", {false, true, true, '?'}, {{0xFF}, {0xFF}}, {0xFF}},
        {"no check: nothing is a mark", {false, false, true, '?'}, {{0xFF, 0x00, 'x'}}, {0xFF, 0x00, 'x'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SeamPort p;
        apply(*p.port, c.rules);
        p.port->Connect();
        Bytes got;
        for (const Bytes& piece : c.pieces) {
            p.device->queueRaw(piece);
            const Bytes part = readQueued(*p.port, 0);
            got.insert(got.end(), part.begin(), part.end());
        }
        EXPECT_EQ(got, c.read);
        p.port->Disconnect();
    }
}

TEST(ComReceive, ClosingForgetsQueuedBytesAndACutMark) {
    SeamPort p;
    apply(*p.port, {false, true, true, '?'});
    p.port->Connect();
    p.device->queueRaw({'a', 'b', 0xFF});
    EXPECT_EQ(p.port->InputQueueCount(), 2);
    p.port->Disconnect();
    p.port->Connect();
    EXPECT_EQ(p.port->InputQueueCount(), 0);
    p.device->queueRaw({0x00, 'x'}); // the rest of the old mark is not taken for one
    EXPECT_EQ(readQueued(*p.port, 2), Bytes({0x00, 'x'}));
}

namespace {

class FlagPort : public TComPort {
public:
    std::vector<std::string> fired;
    void FireRxChar(int count) override {
        fired.push_back("rxchar " + std::to_string(count));
        std::vector<unsigned char> buffer(static_cast<std::size_t>(count));
        ReadBytes(buffer.data(), count);
    }
    void FireRxFlag() override { fired.push_back("rxflag"); }
};

} // namespace

TEST(ComReceive, TheEventCharacterFiresRxFlagAfterRxChar) {
    struct Case {
        const char* name;
        unsigned char eventChar;
        bool discardNull;
        QByteArray sent;
        std::vector<std::string> fired;
    };
    const std::vector<Case> cases = {
        {"event character", '\r', false, "ab\r", {"rxchar 3", "rxflag"}},
        {"no event character", '\r', false, "ab\n", {"rxchar 3"}},
        {"zero byte as event character", 0, false, QByteArray("a\0", 2), {"rxchar 2", "rxflag"}},
        {"dropped zero byte is no event character", 0, true, QByteArray("a\0", 2), {"rxchar 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPair pty;
        FlagPort port;
        port.SetPort(pty.slavePath());
        port.SetEventChar(c.eventChar);
        port.SetDiscardNull(c.discardNull);
        port.Connect();
        port.fired.clear();
        pty.send(c.sent);
        ASSERT_TRUE(waitUntil([&] { return port.fired.size() >= c.fired.size(); }));
        waitUntil([] { return false; }, 50); // nothing more, nothing repeated
        EXPECT_EQ(port.fired, c.fired);
        port.Disconnect();
    }
}

// The event thread moves arriving bytes into the input queue while a read waits for the device; the read must
// still take them rather than wait out its time limit beside a full queue.
TEST(ComReceive, AWaitingReadTakesBytesTheEventThreadQueued) {
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.slavePath());
    port.SetSyncMethod(smNone); // the event thread pumps at once, without waiting for the main thread
    TComTimeouts timeouts;
    timeouts.SetReadInterval(0);
    timeouts.SetReadTotalMultiplier(0);
    timeouts.SetReadTotalConstant(5000);
    port.SetTimeouts(timeouts);
    port.Connect();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::thread farEnd([&] {
            QThread::msleep(5);
            pty.send("ab");
            QThread::msleep(5);
            pty.send("cd");
        });
        unsigned char buffer[4] = {};
        const auto start = std::chrono::steady_clock::now();
        const int got = port.ReadBytes(buffer, 4);
        farEnd.join();
        EXPECT_EQ(got, 4);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
    }
    // Handlers run on the event thread: it must be stopped before the port starts to be taken apart.
    port.Disconnect();
}
