// The network device against an in-process server on the loopback address: opening and its failures, each
// within its bound; line settings confirmed or not; data with 0xFF both ways; a connection that goes away;
// modem-line notifications feeding the line wait.
#include "fakecomserver.h"

#include "platform/netaddress.h"
#include "platform/netdevice.h"
#include "platform/portdevice.h"
#include "platform/ttydevice.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using platform::NetDevice;
using Clock = std::chrono::steady_clock;

namespace {

// Short enough to keep the failing cases quick, long enough for a loaded machine to answer in time.
NetDevice::Bounds shortBounds() {
    NetDevice::Bounds b;
    b.connectMs = 400;
    b.answerMs = 1500;
    return b;
}

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A loopback port that nothing listens on: bound, never listening, so no other test can take it meanwhile.
struct ClosedPort {
    ClosedPort() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~ClosedPort() { ::close(fd); }
    int fd = -1;
    int port = 0;
};

// A listener whose queue is full and that never accepts: the kernel drops further connection requests, so a
// connect to it never completes.
struct FullListener {
    FullListener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 0);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        // Fill the queue: connections that complete (queued) until one no longer does.
        for (int i = 0; i < 8; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fillers.push_back(c);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~FullListener() {
        for (int c : fillers) ::close(c);
        ::close(fd);
    }
    int fd = -1;
    int port = 0;
    std::vector<int> fillers;
};

std::string local(const char* scheme, int port) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
}

} // namespace

TEST(NetDevice, OpenFailuresEndWithinTheirBoundAndSayWhy) {
    ClosedPort closed;
    FullListener full;
    FakeComServer::Options mute;
    mute.answerOptions = false;
    FakeComServer muteServer(mute);
    FakeComServer::Options refusing;
    refusing.agreeComPort = false;
    FakeComServer refusingServer(refusing);
    struct Case {
        const char* what;
        std::string name;
        int error;
    } cases[] = {
        {"nothing listens", local("rfc2217", closed.port), ECONNREFUSED},
        {"nothing listens, raw", local("tcp", closed.port), ECONNREFUSED},
        {"name does not resolve", "rfc2217://" + std::string(64, 'a') + ".invalid:3333", ENXIO},
        {"connection never completes", local("rfc2217", full.port), ETIMEDOUT},
        {"server never answers the options", muteServer.name(), EPROTONOSUPPORT},
        {"server refuses COM port control", refusingServer.name(), EPROTONOSUPPORT},
        {"not a network name", "rfc2217://127.0.0.1", EINVAL},
    };
    for (const Case& c : cases) {
        NetDevice device(shortBounds());
        const auto start = Clock::now();
        EXPECT_EQ(device.open(c.name), c.error) << c.what;
        EXPECT_LT(msSince(start), 4000) << c.what;
        EXPECT_FALSE(device.isOpen()) << c.what;
        EXPECT_EQ(device.fd(), -1) << c.what;
    }
}

TEST(NetDevice, LineSettingsReachTheServerAndAnUnconfirmedOneFailsWithinTheBound) {
    for (bool confirm : {true, false}) {
        FakeComServer::Options o;
        o.confirmSettings = confirm;
        o.oneByteWrites = true; // every answer split across reads
        FakeComServer server(o);
        NetDevice device(shortBounds());
        ASSERT_EQ(device.open(server.name()), 0);
        platform::SerialLineConfig c;
        c.baudRate = 19200;
        const auto start = Clock::now();
        EXPECT_EQ(device.applyLine(c), confirm ? 0 : ETIME) << confirm;
        EXPECT_LT(msSince(start), 4000);
        EXPECT_EQ(server.baudRate(), 19200u);
        device.close();
    }
}

TEST(NetDevice, DataFullOfFFGoesBothWaysAndTheLastBytesArriveBeforeClose) {
    for (bool telnet : {true, false}) {
        FakeComServer::Options o;
        o.telnet = telnet;
        FakeComServer server(o);
        NetDevice device(shortBounds());
        ASSERT_EQ(device.open(server.name()), 0);
        ASSERT_EQ(device.applyLine({}), 0);
        // A probe frame for the programmer, then 2000 bytes of 0xFF that it ignores.
        std::vector<unsigned char> out{0xFA, 0x00, 0x00};
        out.insert(out.end(), 2000, 0xFF);
        std::size_t sent = 0;
        while (sent < out.size()) {
            const long n = device.writeSome(out.data() + sent, out.size() - sent);
            ASSERT_GE(n, 0);
            sent += static_cast<std::size_t>(n);
        }
        ASSERT_EQ(device.drainOutput(1000), 0);
        unsigned char reply[8] = {};
        long got = 0;
        for (int i = 0; i < 100 && got == 0; ++i) {
            bool ready = false, hangUp = false;
            ASSERT_EQ(device.waitReady(false, -1, 50, ready, hangUp), 0);
            got = device.readSome(reply, sizeof reply);
        }
        EXPECT_GT(got, 0) << "the programmer answered the probe";
        device.close();
        for (int i = 0; i < 100 && server.received().size() < out.size(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(server.received(), out) << (telnet ? "telnet" : "raw");
    }
}

TEST(NetDevice, AClosedConnectionFailsEveryReadAndWriteAndWakesTheWaiters) {
    FakeComServer::Options o;
    o.closeAfterDataBytes = 1;
    FakeComServer server(o);
    NetDevice device(shortBounds());
    ASSERT_EQ(device.open(server.name()), 0);
    platform::SerialLineChanges seen;
    ASSERT_EQ(device.lineChanges(seen), 0);
    auto lineWait =
        std::async(std::launch::async, [&] { return device.waitLineChange(platform::LineCTS, seen); });
    const unsigned char byte = 0x42;
    ASSERT_EQ(device.writeSome(&byte, 1), 1);
    unsigned char in[4];
    long n = 0;
    for (int i = 0; i < 100 && n == 0; ++i) {
        bool ready = false, hangUp = false;
        ASSERT_EQ(device.waitReady(false, -1, 50, ready, hangUp), 0);
        n = device.readSome(in, sizeof in);
    }
    EXPECT_EQ(n, -ECONNRESET);
    EXPECT_EQ(device.readSome(in, sizeof in), -ECONNRESET) << "and stays so";
    bool ready = false, hangUp = false;
    EXPECT_EQ(device.waitReady(false, -1, 5000, ready, hangUp), 0);
    EXPECT_TRUE(ready) << "a waiting read is not left waiting";
    EXPECT_LT(device.writeSome(&byte, 1), 0);
    ASSERT_EQ(lineWait.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(lineWait.get(), EIO);
}

TEST(NetDevice, ModemStateNotificationsFeedTheLineWaitAndRawPortsHaveNoLines) {
    FakeComServer::Options o;
    // CTS and DSR up, told before anything was asked.
    o.greeting = {255, 250, 44, 107, 0x30 | 0x01, 255, 240};
    FakeComServer server(o);
    NetDevice device(shortBounds());
    ASSERT_EQ(device.open(server.name()), 0); // the notification is read while the options are negotiated
    unsigned lines = 0;
    EXPECT_EQ(device.modemLines(lines), 0);
    EXPECT_EQ(lines, unsigned(platform::LineCTS | platform::LineDSR));
    platform::SerialLineChanges changes;
    EXPECT_EQ(device.lineChanges(changes), 0);
    EXPECT_EQ(changes.cts, 1u);

    auto wait = std::async(std::launch::async, [&] { return device.waitLineChange(platform::LineRing, changes); });
    EXPECT_EQ(wait.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    device.cancelLineWait();
    EXPECT_EQ(wait.get(), ECANCELED);
    EXPECT_EQ(device.waitLineChange(platform::LineRing, changes), ECANCELED) << "until opened again";
    EXPECT_GE(server.purges(), 0);

    FakeComServer::Options rawOptions;
    rawOptions.telnet = false;
    FakeComServer raw(rawOptions);
    NetDevice rawDevice(shortBounds());
    ASSERT_EQ(rawDevice.open(raw.name()), 0);
    EXPECT_EQ(rawDevice.lineChanges(changes), ENOTTY);
    EXPECT_EQ(rawDevice.waitLineChange(platform::LineCTS, changes), ENOTTY);
    EXPECT_EQ(rawDevice.modemLines(lines), 0);
    EXPECT_EQ(lines, 0u);
}

TEST(NetDevice, ThePortDeviceOpensTheKindTheNameAsksFor) {
    std::vector<std::string> made;
    platform::PortDevice device([&](const std::string& name) -> std::unique_ptr<platform::SerialDevice> {
        made.push_back(platform::isNetworkPortName(name) ? "net" : "tty");
        return platform::PortDevice::deviceFor(name);
    });
    FakeComServer server({});
    EXPECT_EQ(device.open(server.name()), 0);
    EXPECT_TRUE(device.isOpen());
    EXPECT_GE(device.fd(), 0);
    device.close();
    EXPECT_EQ(device.open("/dev/chipwright-no-such-device"), ENOENT);
    EXPECT_EQ(made, (std::vector<std::string>{"net", "tty"}));
    for (const char* name : {"rfc2217://host:1", "RFC2217://[::1]:3333", "tcp://10.0.0.2:4000"})
        EXPECT_EQ(platform::SerialDevice::devicePath(name), name);
}

TEST(NetDevice, NetworkNamesAreParsedStrictly) {
    struct Case {
        const char* name;
        bool rfc2217;
        const char* host; // nullptr: not a well-formed network name
        const char* port;
    } cases[] = {
        {"rfc2217://lab-pc:3333", true, "lab-pc", "3333"},
        {"RFC2217://10.0.0.7:4001/", true, "10.0.0.7", "4001"},
        {"tcp://[fe80::1%eth0]:23", false, "fe80::1%eth0", "23"},
        {"tcp://[::1]:0023", false, "::1", "23"},
        {"tcp://[::1]:65535", false, "::1", "65535"},
        {"rfc2217://host", true, nullptr, nullptr},
        {"rfc2217://:3333", true, nullptr, nullptr},
        {"rfc2217://host:65536", true, nullptr, nullptr},
        {"rfc2217://host:12a", true, nullptr, nullptr},
        {"rfc2217://::1:3333", true, nullptr, nullptr},
        {"tcp://[host]:1", false, nullptr, nullptr},
        {"tcp://user@host:1", false, nullptr, nullptr},
        {"tcp://a b:1", false, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(platform::isNetworkPortName(c.name)) << c.name;
        const auto a = platform::parseNetAddress(c.name);
        ASSERT_EQ(a.has_value(), c.host != nullptr) << c.name;
        if (!a) continue;
        EXPECT_EQ(a->rfc2217, c.rfc2217) << c.name;
        EXPECT_EQ(a->host, c.host) << c.name;
        EXPECT_EQ(a->port, c.port) << c.name;
    }
    for (const char* local : {"COM1", "/dev/ttyUSB0", "ttyUSB0", "rfc2217", "./tcp://x:1"})
        EXPECT_FALSE(platform::isNetworkPortName(local)) << local;
}
