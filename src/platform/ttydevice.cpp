#include "platform/ttydevice.h"

// The kernel's own termios2 (custom rates through BOTHER); <termios.h> must stay out of this file because it
// declares a conflicting struct termios.
#include <algorithm>
#include <asm/termbits.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

static_assert(sizeof(termios2) <= 64, "saved termios buffer too small");

namespace platform {

namespace {

bool noSuchFeature(int err) {
    return err == ENOTTY || err == EINVAL;
}

tcflag_t standardRate(int rate) {
    switch (rate) {
    case 50:
        return B50;
    case 75:
        return B75;
    case 110:
        return B110;
    case 134:
        return B134;
    case 150:
        return B150;
    case 200:
        return B200;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 1800:
        return B1800;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return 0;
    }
}

int readLineChanges(int fd, SerialLineChanges& changes) {
    serial_icounter_struct ic{};
    if (ioctl(fd, TIOCGICOUNT, &ic) != 0) return errno;
    changes.cts = static_cast<unsigned>(ic.cts);
    changes.dsr = static_cast<unsigned>(ic.dsr);
    changes.ring = static_cast<unsigned>(ic.rng);
    changes.rlsd = static_cast<unsigned>(ic.dcd);
    return 0;
}

int setModemLine(int fd, int bit, bool on) {
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return 0;
    return noSuchFeature(errno) ? 0 : errno;
}

} // namespace

TtyDevice::~TtyDevice() {
    close();
}

int TtyDevice::open(const std::string& path) {
    if (fd_ >= 0) return EBUSY;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return err;
    }
    termios2 saved{};
    if (ioctl(fd, TCGETS2, &saved) != 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    std::memcpy(savedTermios_, &saved, sizeof saved);
    haveSaved_ = true;
    lineWait_.reset();
    fd_ = fd;
    return 0;
}

void TtyDevice::close() {
    if (fd_ < 0) return;
    if (haveSaved_) {
        termios2 saved{};
        std::memcpy(&saved, savedTermios_, sizeof saved);
        ioctl(fd_, TCSETS2, &saved);
    }
    ::close(fd_); // also releases the flock
    fd_ = -1;
    haveSaved_ = false;
}

int TtyDevice::applyLine(const SerialLineConfig& c) {
    if (fd_ < 0) return EBADF;
    if (c.baudRate <= 0) return EINVAL;
    termios2 t{};
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CREAD | CLOCAL;
    switch (c.dataBits) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
    switch (c.parity) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    // Linux has no 1.5 stop bits; a UART asked for two stop bits with five data bits sends 1.5, which is the
    // only combination where 1.5 is meaningful, so 1.5 is sent as CSTOPB.
    if (c.stopBits != 0) t.c_cflag |= CSTOPB;
    if (c.ctsFlow || c.rtsHandshake) t.c_cflag |= CRTSCTS;
    // Bytes with a parity or framing error arrive marked (0xFF 0x00 byte; a real 0xFF as 0xFF 0xFF), so the
    // caller can replace them or pass them on as they came, and never takes them for good data.
    if (c.parityCheck) t.c_iflag |= INPCK | PARMRK;
    if (c.xonXoffOut) t.c_iflag |= IXON;
    if (c.xonXoffIn) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = c.xonChar;
    t.c_cc[VSTOP] = c.xoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    const tcflag_t code = standardRate(c.baudRate);
    if (code != 0) {
        t.c_cflag |= code;
    } else {
        t.c_cflag |= BOTHER;
        t.c_cflag |= BOTHER << IBSHIFT;
    }
    t.c_ispeed = static_cast<speed_t>(c.baudRate);
    t.c_ospeed = static_cast<speed_t>(c.baudRate);
    if (ioctl(fd_, TCSETS2, &t) != 0) return errno;

    if (const int err = setModemLine(fd_, TIOCM_DTR, c.dtrMode != 0)) return err;
    if (!(c.ctsFlow || c.rtsHandshake) || c.rtsMode != 2) {
        if (const int err = setModemLine(fd_, TIOCM_RTS, c.rtsMode == 1 || c.rtsMode == 2)) return err;
    }
    return 0;
}

long TtyDevice::readSome(unsigned char* buffer, std::size_t count) {
    if (fd_ < 0) return -EBADF;
    if (count == 0) return 0;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, count);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -errno;
    }
}

long TtyDevice::writeSome(const unsigned char* buffer, std::size_t count) {
    if (fd_ < 0) return -EBADF;
    if (count == 0) return 0;
    for (;;) {
        const ssize_t n = ::write(fd_, buffer, count);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -errno;
    }
}

int TtyDevice::waitReady(bool forWrite, int wakeFd, int timeoutMs, bool& deviceReady, bool& hangUp) const {
    deviceReady = false;
    hangUp = false;
    if (fd_ < 0) return EBADF;
    pollfd fds[2] = {{fd_, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0}, {wakeFd, POLLIN, 0}};
    const int n = ::poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : errno;
    deviceReady = (fds[0].revents & (forWrite ? POLLOUT : POLLIN)) != 0;
    hangUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return 0;
}

int TtyDevice::inputQueueCount(int& count) const {
    count = 0;
    if (fd_ < 0) return EBADF;
    return ioctl(fd_, FIONREAD, &count) == 0 ? 0 : errno;
}

int TtyDevice::outputQueueCount(int& count) const {
    count = 0;
    if (fd_ < 0) return EBADF;
    return ioctl(fd_, TIOCOUTQ, &count) == 0 ? 0 : errno;
}

int TtyDevice::modemLines(unsigned& lines) const {
    lines = 0;
    if (fd_ < 0) return EBADF;
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) != 0) return noSuchFeature(errno) ? 0 : errno;
    if (bits & TIOCM_CTS) lines |= LineCTS;
    if (bits & TIOCM_DSR) lines |= LineDSR;
    if (bits & TIOCM_RNG) lines |= LineRing;
    if (bits & TIOCM_CD) lines |= LineRLSD;
    return 0;
}

int TtyDevice::errorCounters(SerialErrorCounters& counters) const {
    counters = {};
    if (fd_ < 0) return EBADF;
    serial_icounter_struct ic{};
    if (ioctl(fd_, TIOCGICOUNT, &ic) != 0) return noSuchFeature(errno) ? 0 : errno;
    counters.frame = static_cast<unsigned>(ic.frame);
    counters.parity = static_cast<unsigned>(ic.parity);
    counters.overrun = static_cast<unsigned>(ic.overrun);
    counters.bufferOverrun = static_cast<unsigned>(ic.buf_overrun);
    counters.brk = static_cast<unsigned>(ic.brk);
    return 0;
}

int TtyDevice::lineChanges(SerialLineChanges& changes) const {
    changes = {};
    if (fd_ < 0) return EBADF;
    const int err = readLineChanges(fd_, changes);
    return noSuchFeature(err) ? ENOTTY : err;
}

int TtyDevice::waitLineChange(unsigned lines, SerialLineChanges& seen) {
    int bits = 0;
    if (lines & LineCTS) bits |= TIOCM_CTS;
    if (lines & LineDSR) bits |= TIOCM_DSR;
    if (lines & LineRing) bits |= TIOCM_RNG;
    if (lines & LineRLSD) bits |= TIOCM_CD;
    if (fd_ < 0) return EBADF;
    const int err = lineWait_.run([&] {
        SerialLineChanges now;
        if (const int e = readLineChanges(fd_, now)) return e;
        if (!linesChanged(lines, seen, now)) {
            // The kernel notes the counters as its wait begins; a change in the short gap since the look
            // above is the one thing this cannot see, as the wait takes no counters to compare with.
            if (ioctl(fd_, TIOCMIWAIT, bits) != 0) return errno;
            if (const int e = readLineChanges(fd_, now)) return e;
        }
        seen = now;
        return 0;
    });
    return noSuchFeature(err) ? ENOTTY : err;
}

void TtyDevice::cancelLineWait() {
    lineWait_.interrupt();
}

int TtyDevice::drainOutput(int timeoutMs) {
    if (fd_ < 0) return EBADF;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        int queued = 0;
        if (ioctl(fd_, TIOCOUTQ, &queued) != 0) queued = 0;
        // The driver's queue is empty; a UART may still be shifting out its last byte.
        unsigned lsr = TIOCSER_TEMT;
        if (queued == 0 && ioctl(fd_, TIOCSERGETLSR, &lsr) != 0) lsr = TIOCSER_TEMT;
        if (queued == 0 && (lsr & TIOCSER_TEMT) != 0) return 0;
        if (Clock::now() >= deadline) return ETIMEDOUT;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int TtyDevice::discardInput() {
    if (fd_ < 0) return EBADF;
    return ioctl(fd_, TCFLSH, TCIFLUSH) == 0 ? 0 : errno;
}

int TtyDevice::discardOutput() {
    if (fd_ < 0) return EBADF;
    return ioctl(fd_, TCFLSH, TCOFLUSH) == 0 ? 0 : errno;
}

} // namespace platform
