#include "fakecomserver.h"

#include "simengine.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr unsigned char IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

sim::Micros nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

FakeComServer::FakeComServer(Options options) : options_(std::move(options)) {
    sim::EngineOptions engineOptions;
    engineOptions.faults.silenceAfterBytes = options_.silenceAfterDataBytes;
    engine_ = std::make_unique<sim::Engine>(engineOptions);
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 4) != 0)
        return;
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { serve(); });
}

FakeComServer::~FakeComServer() {
    if (stopFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(stopFd_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
    if (stopFd_ >= 0) ::close(stopFd_);
}

std::string FakeComServer::name() const {
    return (options_.telnet ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") + std::to_string(port_);
}

std::uint32_t FakeComServer::baudRate() const {
    std::lock_guard lock(mutex_);
    return baudRate_;
}

std::vector<unsigned char> FakeComServer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

QByteArray FakeComServer::memory(int chip) const {
    std::lock_guard lock(mutex_);
    return engine_->memory(chip);
}

int FakeComServer::purges() const {
    std::lock_guard lock(mutex_);
    return purges_;
}

void FakeComServer::serve() {
    for (;;) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) continue;
        if (p[1].revents) return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_;
        session(fd);
        ::close(fd);
    }
}

void FakeComServer::session(int fd) {
    sim::Engine& engine = *engine_;
    std::int64_t dataBytes = 0;

    auto send = [&](const std::vector<unsigned char>& bytes) {
        if (!options_.oneByteWrites) {
            ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            return;
        }
        for (unsigned char b : bytes) {
            ::send(fd, &b, 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    };
    send(options_.greeting);

    enum class State { Data, Iac, Verb, Sub, SubIac } state = State::Data;
    unsigned char verb = 0;
    std::vector<unsigned char> sub;

    for (;;) {
        int timeout = -1;
        std::optional<sim::Micros> next;
        {
            std::lock_guard lock(mutex_);
            next = engine.nextDeadline();
        }
        if (next)
            timeout = static_cast<int>(std::max<sim::Micros>(0, (*next - nowMicros()) / 1000 + 1));
        pollfd p[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(p, 2, timeout) < 0) continue;
        if (p[1].revents) return;

        std::vector<unsigned char> answers, data;
        if (p[0].revents) {
            unsigned char raw[4096];
            const ssize_t n = ::recv(fd, raw, sizeof raw, 0);
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i) {
                const unsigned char b = raw[i];
                if (!options_.telnet) {
                    data.push_back(b);
                    continue;
                }
                switch (state) {
                case State::Data:
                    if (b == IAC)
                        state = State::Iac;
                    else
                        data.push_back(b);
                    break;
                case State::Iac:
                    state = State::Data;
                    if (b == IAC) data.push_back(b);
                    else if (b >= WILL) {
                        verb = b;
                        state = State::Verb;
                    } else if (b == SB) {
                        sub.clear();
                        state = State::Sub;
                    }
                    break;
                case State::Verb: {
                    state = State::Data;
                    if (!options_.answerOptions) break;
                    const bool known = b == 0 || b == 3 || b == 44;
                    if (verb == WILL) {
                        const bool agree = known && (b != 44 || options_.agreeComPort);
                        answers.insert(answers.end(), {IAC, static_cast<unsigned char>(agree ? DO : DONT), b});
                    } else if (verb == DO) {
                        const bool agree = b == 0 || b == 3;
                        answers.insert(answers.end(), {IAC, static_cast<unsigned char>(agree ? WILL : WONT), b});
                    }
                    break;
                }
                case State::Sub:
                    if (b == IAC)
                        state = State::SubIac;
                    else
                        sub.push_back(b);
                    break;
                case State::SubIac:
                    if (b == IAC) {
                        sub.push_back(b);
                        state = State::Sub;
                        break;
                    }
                    state = State::Data;
                    if (b != SE || sub.size() < 2 || sub[0] != 44) break;
                    {
                        std::lock_guard lock(mutex_);
                        if (sub[1] == 1 && sub.size() == 6)
                            baudRate_ = std::uint32_t(sub[2]) << 24 | std::uint32_t(sub[3]) << 16 |
                                        std::uint32_t(sub[4]) << 8 | sub[5];
                        if (sub[1] == 12) ++purges_;
                    }
                    if (options_.confirmSettings && sub[1] < 100) {
                        answers.insert(answers.end(), {IAC, SB, 44, static_cast<unsigned char>(sub[1] + 100)});
                        for (std::size_t k = 2; k < sub.size(); ++k) {
                            answers.push_back(sub[k]);
                            if (sub[k] == IAC) answers.push_back(IAC);
                        }
                        answers.insert(answers.end(), {IAC, SE});
                    }
                    break;
                }
            }
        }
        if (!answers.empty()) send(answers);
        if (!data.empty()) {
            {
                std::lock_guard lock(mutex_);
                received_.insert(received_.end(), data.begin(), data.end());
            }
            if (options_.closeAfterDataBytes && dataBytes + std::int64_t(data.size()) >= *options_.closeAfterDataBytes)
                return; // the connection goes mid-frame
            dataBytes += std::int64_t(data.size());
            std::lock_guard lock(mutex_);
            engine.receive(QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size())),
                           nowMicros());
        }
        const sim::Micros now = nowMicros();
        QByteArray out;
        {
            std::lock_guard lock(mutex_);
            engine.advance(now);
            out = engine.takeDue(now);
        }
        if (!out.isEmpty()) {
            std::vector<unsigned char> wire;
            for (char c : out) {
                wire.push_back(static_cast<unsigned char>(c));
                if (options_.telnet && static_cast<unsigned char>(c) == IAC) wire.push_back(IAC);
            }
            send(wire);
        }
    }
}
