#include "platform/filelock.h"

#include "platform/filenames.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// command: F_OFD_SETLKW waits for the lock, F_OFD_SETLK gives EAGAIN or EACCES at once when it is held.
int setLock(int fd, short type, int command = F_OFD_SETLKW) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    while (::fcntl(fd, command, &lock) != 0)
        if (errno != EINTR) return errno;
    return 0;
}

} // namespace

int lockWholeFile(int fd, bool exclusive) {
    return setLock(fd, exclusive ? F_WRLCK : F_RDLCK);
}

void unlockWholeFile(int fd) {
    setLock(fd, F_UNLCK);
}

HeldFileLock::HeldFileLock(const QString& path, int timeoutMs) {
    fd_ = ::open(fileNameBytes(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    int e = fd_ < 0 ? errno : 0;
    if (fd_ >= 0) {
        // Asked again every 20 ms rather than waited for in the kernel, so that a holder that never lets go (a
        // stopped process, say) costs the wait and no more.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while ((e = setLock(fd_, F_WRLCK, F_OFD_SETLK)) == EAGAIN || e == EACCES) {
            if (std::chrono::steady_clock::now() >= deadline) break;
            ::usleep(20000);
        }
    }
    if (e == 0) return;
    error_ = e == EAGAIN || e == EACCES
                 ? QStringLiteral("%1 is still locked after %2 s").arg(path).arg(timeoutMs / 1000.0)
                 : QStringLiteral("cannot lock %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(e)));
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

HeldFileLock::~HeldFileLock() {
    // Closing the only descriptor of the open file lets its lock go.
    if (fd_ >= 0) ::close(fd_);
}

} // namespace platform
