#include "support/ptypair.h"

#include <asm/termbits.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return;
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        ::close(master_);
        master_ = -1;
        return;
    }
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) {
        ::close(master_);
        master_ = -1;
        return;
    }
    slave_ = QString::fromLocal8Bit(name);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    closeMaster();
}

void PtyPair::closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

bool PtyPair::setWindowSize(int columns, int rows) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(columns);
    return master_ >= 0 && ioctl(master_, TIOCSWINSZ, &size) == 0;
}

void PtyPair::send(const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size() && master_ >= 0) {
        const ssize_t n =
            ::write(master_, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent));
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
}

QByteArray PtyPair::receive(int want, int timeoutMs) {
    QByteArray got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < want && master_ >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[256];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0)
            got.append(buf, n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
    }
    return got;
}

PtyPair::LineState PtyPair::lineState() const {
    LineState s;
    termios2 t{};
    if (master_ < 0 || ioctl(master_, TCGETS2, &t) != 0) return s;
    s.cflag = t.c_cflag;
    s.iflag = t.c_iflag;
    s.ispeed = t.c_ispeed;
    s.ospeed = t.c_ospeed;
    s.vstart = t.c_cc[VSTART];
    s.vstop = t.c_cc[VSTOP];
    s.vmin = t.c_cc[VMIN];
    s.vtime = t.c_cc[VTIME];
    switch (t.c_cflag & CSIZE) {
    case CS5:
        s.dataBits = 5;
        break;
    case CS6:
        s.dataBits = 6;
        break;
    case CS7:
        s.dataBits = 7;
        break;
    default:
        s.dataBits = 8;
        break;
    }
    s.parity = t.c_cflag & PARENB;
    s.oddParity = t.c_cflag & PARODD;
    s.markSpace = t.c_cflag & CMSPAR;
    s.twoStopBits = t.c_cflag & CSTOPB;
    s.crtscts = t.c_cflag & CRTSCTS;
    s.ixon = t.c_iflag & IXON;
    s.ixoff = t.c_iflag & IXOFF;
    s.inpck = t.c_iflag & INPCK;
    s.customRate = (t.c_cflag & CBAUD) == BOTHER;
    return s;
}
