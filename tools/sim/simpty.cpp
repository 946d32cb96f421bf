#include "simpty.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace sim::os {

namespace {

QString failure(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

std::optional<Pty> openPty(QString* error) {
    Pty pty;
    pty.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0) {
        *error = failure("posix_openpt");
        return std::nullopt;
    }
    char name[128] = {};
    if (::grantpt(pty.master) != 0 || ::unlockpt(pty.master) != 0 ||
        ::ptsname_r(pty.master, name, sizeof name) != 0) {
        *error = failure("pseudo-terminal set-up");
        closePty(pty);
        return std::nullopt;
    }
    pty.slavePath = QString::fromLocal8Bit(name);
    pty.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.slave < 0) {
        *error = failure("opening the slave side");
        closePty(pty);
        return std::nullopt;
    }
    termios raw{};
    if (::tcgetattr(pty.slave, &raw) == 0) {
        ::cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        ::tcsetattr(pty.slave, TCSANOW, &raw);
    }
    const int flags = ::fcntl(pty.master, F_GETFL);
    if (flags < 0 || ::fcntl(pty.master, F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = failure("fcntl");
        closePty(pty);
        return std::nullopt;
    }
    return pty;
}

void closePty(Pty& pty) {
    if (pty.master >= 0) ::close(pty.master);
    if (pty.slave >= 0) ::close(pty.slave);
    pty.master = pty.slave = -1;
}

std::int64_t nowMicros() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

int watchTerminationSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
    return ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

bool takeSignal(int fd) {
    signalfd_siginfo info{};
    bool any = false;
    while (::read(fd, &info, sizeof info) == ssize_t(sizeof info))
        any = true;
    return any;
}

ReadResult readSome(int fd, QByteArray& into, int* error) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, n);
            return ReadResult::Data;
        }
        if (n == 0) return ReadResult::Closed;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return ReadResult::Nothing;
        if (error) *error = errno;
        return ReadResult::Failed;
    }
}

std::int64_t writeSome(int fd, const QByteArray& data) {
    for (;;) {
        const ssize_t n = ::write(fd, data.constData(), size_t(data.size()));
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

void tightenTimerSlack() {
    ::prctl(PR_SET_TIMERSLACK, 1UL);
}

bool waitFor(const Wait* waits, Ready* ready, int count, std::optional<std::int64_t> deadline) {
    std::vector<pollfd> fds(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        fds[size_t(i)].fd = waits[i].fd;
        fds[size_t(i)].events = short((waits[i].readable ? POLLIN : 0) | (waits[i].writable ? POLLOUT : 0));
    }
    timespec timeout{};
    timespec* limit = nullptr;
    if (deadline) {
        const std::int64_t left = std::max<std::int64_t>(0, *deadline - nowMicros());
        timeout.tv_sec = time_t(left / 1'000'000);
        timeout.tv_nsec = long(left % 1'000'000) * 1000;
        limit = &timeout;
    }
    const int n = ::ppoll(fds.data(), nfds_t(count), limit, nullptr);
    for (int i = 0; i < count; ++i) {
        const short got = n > 0 ? fds[size_t(i)].revents : 0;
        ready[i].readable = got & POLLIN;
        ready[i].writable = got & POLLOUT;
        ready[i].hangup = got & (POLLHUP | POLLERR | POLLNVAL);
    }
    return n >= 0 || errno == EINTR;
}

} // namespace sim::os
