#pragma once

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace sim {
class Engine;
}

// A port server on 127.0.0.1 (a port the kernel picks), in the test's own process, playing what ser2net will
// not do on demand. Behind it sits the simulated programmer (sim::Engine). It speaks the server's side of
// Telnet with COM port control, or raw bytes, and can misbehave: split every command across writes, never
// agree to the COM port option, never confirm settings, close the connection after some bytes, or accept the
// connection and say nothing at all. One connection at a time; serves until destroyed.
class FakeComServer {
public:
    struct Options {
        bool telnet = true;            // false: raw bytes, as a tcp:// port
        bool agreeComPort = true;      // answer WILL COM-PORT-OPTION with DO (else DONT)
        bool answerOptions = true;     // answer option requests at all (false: a server that stays mute)
        bool confirmSettings = true;   // answer the COM port commands
        bool oneByteWrites = false;    // every byte sent in a write of its own, a short pause between
        std::optional<std::int64_t> closeAfterDataBytes; // close once this many data bytes came in
        std::optional<std::int64_t> silenceAfterDataBytes; // the programmer stops answering after these
        std::vector<unsigned char> greeting; // sent on connecting (a notification, say)
    };

    explicit FakeComServer(Options options);
    ~FakeComServer();
    FakeComServer(const FakeComServer&) = delete;
    FakeComServer& operator=(const FakeComServer&) = delete;

    int port() const { return port_; }
    // rfc2217://127.0.0.1:PORT or tcp://127.0.0.1:PORT
    std::string name() const;

    // What came in: the last baud rate set (0: none), the data bytes, the purges asked for.
    std::uint32_t baudRate() const;
    std::vector<unsigned char> received() const;
    int purges() const;
    int connections() const { return connections_; }
    // What the simulated chip holds (the programmer lives on from connection to connection).
    QByteArray memory(int chip) const;

private:
    void serve();
    void session(int fd);

    Options options_;
    std::unique_ptr<sim::Engine> engine_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::uint32_t baudRate_ = 0;
    std::vector<unsigned char> received_;
    int purges_ = 0;
    std::atomic<int> connections_{0};
};
