#include "platform/regularfile.h"

#include "platform/filenames.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int openRegularFile(const QString& path, QString& problem) {
    const auto fail = [&](int error) {
        problem = QString::fromLocal8Bit(std::strerror(error));
        return -1;
    };
    if (path.isEmpty()) return fail(ENOENT);
    // O_NONBLOCK: a FIFO would otherwise wait in the open for a writer. The type is checked on the open
    // descriptor, so a file swapped after a check cannot slip through.
    const int fd = ::open(fileNameBytes(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        problem = QStringLiteral("Not a regular file");
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

void closeDescriptor(int fd) {
    if (fd >= 0) ::close(fd);
}

} // namespace platform

namespace platform {

bool openRegularFile(QFile& file, const QString& path, QString& problem) {
    const int fd = openRegularFile(path, problem);
    if (fd < 0) return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        closeDescriptor(fd);
        problem = file.errorString();
        return false;
    }
    return true;
}

} // namespace platform
