#include "platform/filelock.h"

#include "platform/filenames.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

int setLock(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    while (::fcntl(fd, F_OFD_SETLKW, &lock) != 0)
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

HeldFileLock::HeldFileLock(const QString& path) {
    fd_ = ::open(fileNameBytes(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    int e = fd_ < 0 ? errno : lockWholeFile(fd_, true);
    if (e == 0) return;
    error_ = QStringLiteral("cannot lock %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(e)));
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

HeldFileLock::~HeldFileLock() {
    // Closing the only descriptor of the open file lets its lock go.
    if (fd_ >= 0) ::close(fd_);
}

} // namespace platform
