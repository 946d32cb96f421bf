#include "platform/netdevice.h"

#include "platform/netaddress.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Received data kept for the reader at most; beyond it the socket's own buffer holds the rest back, so a
// server that floods the connection cannot grow this process.
constexpr std::size_t maxInbox = std::size_t(1) << 20;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

// A name that does not resolve has no errno of its own; ENXIO ("No such device or address") is the local
// device's word for the same thing.
int resolveError(int gaiError) {
    switch (gaiError) {
    case EAI_SYSTEM:
        return errno != 0 ? errno : ENXIO;
    case EAI_MEMORY:
        return ENOMEM;
    case EAI_AGAIN:
        return EAGAIN;
    default:
        return ENXIO;
    }
}

// One connection attempt to one address, bounded by the deadline. Returns the socket or a negative errno.
int connectTo(const addrinfo& ai, Clock::time_point deadline) {
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) return -errno;
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) == 0) return fd;
    int err = errno;
    if (err == EINPROGRESS) {
        for (;;) {
            pollfd p{fd, POLLOUT, 0};
            const int n = ::poll(&p, 1, msLeft(deadline));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                err = errno;
            } else if (n == 0) {
                err = ETIMEDOUT;
            } else {
                socklen_t len = sizeof err;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            }
            break;
        }
    }
    if (err == 0) return fd;
    ::close(fd);
    return -err;
}

void tuneSocket(int fd, int userTimeoutMs) {
    const int on = 1;
    // Every frame of the link is a request waiting for its reply: no Nagle delay.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A server that vanished without a word (power cut, cable pulled) ends the connection instead of leaving
    // it open for hours: by keep-alive probes while idle, by the user time-out while bytes wait for their ack.
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    const int idle = 5, interval = 2, probes = 3;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    const unsigned userTimeout = static_cast<unsigned>(std::max(userTimeoutMs, 0));
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

} // namespace

NetDevice::NetDevice() : NetDevice(Bounds{}) {}

NetDevice::NetDevice(Bounds bounds) : bounds_(bounds) {}

NetDevice::~NetDevice() {
    close();
}

int NetDevice::open(const std::string& name) {
    if (fd_ >= 0) return EBUSY;
    const std::optional<NetAddress> address = parseNetAddress(name);
    if (!address) return EINVAL;

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    errno = 0;
    if (const int gai = ::getaddrinfo(address->host.c_str(), address->port.c_str(), &hints, &found))
        return resolveError(gai);

    // Every address the name has, in the resolver's order, within one bound for all of them.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(bounds_.connectMs, 0));
    int fd = -ENXIO;
    for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
        fd = connectTo(*ai, deadline);
        if (fd >= 0 || fd == -ETIMEDOUT) break;
    }
    ::freeaddrinfo(found);
    if (fd < 0) return -fd;
    tuneSocket(fd, bounds_.userTimeoutMs);

    std::unique_lock lock(mutex_);
    fd_ = fd;
    rfc2217_ = address->rfc2217;
    codec_ = TelnetCodec();
    inbox_.clear();
    outbox_.clear();
    peerError_ = 0;
    lineWaitCancelled_ = false;
    if (rfc2217_) {
        codec_.start();
        // A server that never finishes the negotiation is no RFC 2217 server either (a raw TCP port, say).
        int err = waitAnswersLocked(lock, true);
        if (err == 0 && codec_.comPort() != TelnetCodec::OptionState::Agreed) err = EPROTONOSUPPORT;
        if (err == 0) {
            codec_.sendMasks();
            err = flushLocked();
        }
        if (err != 0) {
            lock.unlock();
            close();
            return err;
        }
    }
    return 0;
}

void NetDevice::close() {
    std::unique_lock lock(mutex_);
    if (fd_ < 0) return;
    // A FIN after the last written byte, then whatever the server still had in flight read away: closing with
    // unread input would answer with a reset, which may cost the server bytes it has not read yet.
    ::shutdown(fd_, SHUT_WR);
    unsigned char scrap[4096];
    for (int i = 0; i < 256 && ::recv(fd_, scrap, sizeof scrap, MSG_DONTWAIT) > 0; ++i) {
    }
    ::close(fd_);
    fd_ = -1;
    inbox_.clear();
    outbox_.clear();
    lineWaitCancelled_ = true;
    changed_.notify_all();
}

bool NetDevice::isOpen() const {
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

int NetDevice::fd() const {
    std::lock_guard lock(mutex_);
    return fd_;
}

int NetDevice::flushLocked() const {
    std::size_t sent = 0;
    int err = 0;
    while (sent < outbox_.size()) {
        const ssize_t n = ::send(fd_, outbox_.data() + sent, outbox_.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) err = errno;
        break;
    }
    outbox_.erase(outbox_.begin(), outbox_.begin() + static_cast<std::ptrdiff_t>(sent));
    if (err != 0 && peerError_ == 0) peerError_ = err == EPIPE ? ECONNRESET : err;
    return err != 0 ? peerError_ : 0;
}

// Reads what the socket has (until `want` data bytes are waiting or it has no more), decodes it, and sends the
// answers the decoding produced. The connection's end is remembered in peerError_.
int NetDevice::pullLocked(std::size_t want) const {
    if (fd_ < 0) return EBADF;
    unsigned char raw[4096];
    bool decoded = false;
    want = std::min(want, maxInbox);
    while (peerError_ == 0 && inbox_.size() < want) {
        const ssize_t n = ::recv(fd_, raw, sizeof raw, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {
            peerError_ = n == 0 ? ECONNRESET : errno;
            break;
        }
        if (rfc2217_)
            codec_.decode(raw, static_cast<std::size_t>(n), inbox_);
        else
            inbox_.insert(inbox_.end(), raw, raw + n);
        decoded = true;
    }
    if (decoded) {
        if (codec_.hasOutput()) {
            const std::vector<unsigned char> answers = codec_.takeOutput();
            outbox_.insert(outbox_.end(), answers.begin(), answers.end());
            flushLocked();
        }
        changed_.notify_all();
    }
    return peerError_;
}

// Sends what the codec queued and waits for the answers it expects: the option negotiation when opening, the
// confirmations of a line configuration otherwise. Other threads may read the socket meanwhile; their decoding
// counts too, so the wait only sleeps in short slices.
int NetDevice::waitAnswersLocked(std::unique_lock<std::mutex>& lock, bool opening) {
    const std::vector<unsigned char> requests = codec_.takeOutput();
    outbox_.insert(outbox_.end(), requests.begin(), requests.end());
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(bounds_.answerMs, 0));
    auto done = [&] { return opening ? codec_.negotiated() : codec_.pendingAnswers() == 0; };
    for (;;) {
        if (const int err = flushLocked()) return err;
        if (const int err = pullLocked(static_cast<std::size_t>(-1))) return err;
        if (done()) return 0;
        const int left = msLeft(deadline);
        if (left == 0) return opening ? EPROTONOSUPPORT : ETIME;
        const int fd = fd_;
        lock.unlock();
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, std::min(left, 10));
        lock.lock();
        if (fd_ != fd) return EBADF;
    }
}

// Data that arrives while the answers are awaited waits in inbox_ for the next read; the event thread saw no
// arrival for it, so it is reported with the next one (the programmer's link never has data in flight while
// the port's settings change).
int NetDevice::applyLine(const SerialLineConfig& config) {
    std::unique_lock lock(mutex_);
    if (fd_ < 0) return EBADF;
    if (config.baudRate <= 0) return EINVAL;
    if (!rfc2217_) return 0; // a raw port's line belongs to the server's configuration
    codec_.sendLine(config);
    if (const int err = waitAnswersLocked(lock, false)) return err;
    return codec_.lineRefused() ? EINVAL : 0;
}

long NetDevice::readSome(unsigned char* buffer, std::size_t count) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return -EBADF;
    if (count == 0) return 0;
    if (inbox_.size() < count) pullLocked(count);
    const std::size_t n = std::min(count, inbox_.size());
    if (n == 0) return peerError_ != 0 ? -peerError_ : 0;
    std::copy_n(inbox_.begin(), n, buffer);
    inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<long>(n);
}

long NetDevice::writeSome(const unsigned char* buffer, std::size_t count) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return -EBADF;
    if (count == 0) return 0;
    if (const int err = flushLocked()) return -err;
    if (peerError_ != 0) return -peerError_;
    if (!outbox_.empty()) return 0; // the socket is full: no room
    // The bytes are taken whole; what the socket does not accept now waits in outbox_ and goes first next
    // time, so a doubled 0xFF is never split from its twin by a refusal.
    count = std::min<std::size_t>(count, 65536);
    if (rfc2217_) {
        codec_.encodeData(buffer, count);
        outbox_ = codec_.takeOutput();
    } else {
        outbox_.assign(buffer, buffer + count);
    }
    if (const int err = flushLocked()) return -err;
    return static_cast<long>(count);
}

int NetDevice::waitReady(bool forWrite, int wakeFd, int timeoutMs, bool& deviceReady, bool& hangUp) const {
    deviceReady = false;
    hangUp = false;
    int fd = -1;
    {
        std::lock_guard lock(mutex_);
        if (fd_ < 0) return EBADF;
        if (peerError_ != 0 || (!forWrite && !inbox_.empty())) {
            deviceReady = true;
            return 0;
        }
        fd = fd_;
    }
    pollfd fds[2] = {{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0}, {wakeFd, POLLIN, 0}};
    const int n = ::poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : errno;
    // A reset or a closed connection shows as readable: the read that follows reports it.
    deviceReady = (fds[0].revents & (forWrite ? POLLOUT : POLLIN)) != 0 ||
                  (fds[0].revents & (POLLHUP | POLLERR)) != 0;
    hangUp = (fds[0].revents & POLLNVAL) != 0;
    return 0;
}

int NetDevice::inputQueueCount(int& count) const {
    std::lock_guard lock(mutex_);
    count = 0;
    if (fd_ < 0) return EBADF;
    int raw = 0;
    if (::ioctl(fd_, FIONREAD, &raw) != 0) raw = 0;
    count = static_cast<int>(inbox_.size()) + raw; // raw bytes still hold their telnet escapes: an estimate
    return 0;
}

int NetDevice::outputQueueCount(int& count) const {
    std::lock_guard lock(mutex_);
    count = 0;
    if (fd_ < 0) return EBADF;
    int queued = 0;
    if (::ioctl(fd_, SIOCOUTQ, &queued) != 0) queued = 0;
    count = static_cast<int>(outbox_.size()) + queued;
    return 0;
}

int NetDevice::modemLines(unsigned& lines) const {
    std::lock_guard lock(mutex_);
    lines = 0;
    if (fd_ < 0) return EBADF;
    // A connection that has ended has no lines to tell, as a local device that is gone fails here.
    if (peerError_ != 0) return peerError_;
    if (rfc2217_) lines = codec_.modemLines();
    return 0;
}

int NetDevice::errorCounters(SerialErrorCounters& counters) const {
    std::lock_guard lock(mutex_);
    counters = {};
    if (fd_ < 0) return EBADF;
    if (rfc2217_) counters = codec_.lineErrors();
    return 0;
}

int NetDevice::lineChanges(SerialLineChanges& changes) const {
    std::lock_guard lock(mutex_);
    changes = {};
    if (fd_ < 0) return EBADF;
    if (!rfc2217_) return ENOTTY;
    changes = codec_.lineChanges();
    return 0;
}

int NetDevice::waitLineChange(unsigned lines, SerialLineChanges& seen) {
    std::unique_lock lock(mutex_);
    if (fd_ < 0) return EBADF;
    if (!rfc2217_) return ENOTTY;
    if (lineWaitCancelled_) return ECANCELED;
    if (lineWaiters_ > 0) return EBUSY;
    // The notifications arrive with the data: whoever reads the socket (the event thread) decodes them. The
    // counts are compared with the caller's under the same lock that the decoder takes, so no change made
    // before the wait is lost.
    auto changed = [&] { return linesChanged(lines, seen, codec_.lineChanges()); };
    ++lineWaiters_;
    changed_.wait(lock, [&] { return lineWaitCancelled_ || peerError_ != 0 || changed(); });
    --lineWaiters_;
    const bool lineChanged = changed();
    const int result = lineWaitCancelled_ ? ECANCELED : peerError_ != 0 && !lineChanged ? EIO : 0;
    if (result == 0) seen = codec_.lineChanges();
    changed_.notify_all();
    return result;
}

void NetDevice::cancelLineWait() {
    std::unique_lock lock(mutex_);
    lineWaitCancelled_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return lineWaiters_ == 0; });
}

int NetDevice::drainOutput(int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (fd_ < 0) return EBADF;
            if (const int err = flushLocked()) return err;
            int queued = 0;
            // Unacknowledged bytes count: once the server has acknowledged them, closing cannot lose them.
            if (::ioctl(fd_, SIOCOUTQ, &queued) != 0) queued = 0;
            if (outbox_.empty() && queued == 0) return 0;
        }
        if (Clock::now() >= deadline) return ETIMEDOUT;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int NetDevice::discardInput() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return EBADF;
    // The commands among the bytes still count; the data goes, a bounded amount of it.
    for (int i = 0; i < 16; ++i) {
        inbox_.clear();
        pullLocked(maxInbox);
        if (inbox_.empty()) break;
    }
    inbox_.clear();
    if (rfc2217_ && peerError_ == 0) {
        codec_.sendPurge(1);
        const std::vector<unsigned char> purge = codec_.takeOutput();
        outbox_.insert(outbox_.end(), purge.begin(), purge.end());
        flushLocked();
    }
    return 0;
}

int NetDevice::discardOutput() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return EBADF;
    // Bytes the socket has taken cannot be called back, and the unsent rest may end inside a command; the
    // server is asked to drop what it has not sent to its line yet.
    if (rfc2217_ && peerError_ == 0) {
        codec_.sendPurge(2);
        const std::vector<unsigned char> purge = codec_.takeOutput();
        outbox_.insert(outbox_.end(), purge.begin(), purge.end());
        flushLocked();
    }
    return 0;
}

} // namespace platform
