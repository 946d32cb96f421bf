#include "platform/filelock.h"

#include <cerrno>
#include <fcntl.h>

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

} // namespace platform
