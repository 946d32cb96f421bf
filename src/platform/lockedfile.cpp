#include "platform/lockedfile.h"

#include "platform/atomicfile.h"
#include "platform/filelock.h"
#include "platform/filenames.h"

#include <QtGlobal>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString systemText(int error) {
    return qt_error_string(error);
}

// Opens and locks the file that path names now. Another holder of the lock may have replaced the file while
// this one waited: the lock was then on the old file, and it is taken again on the new one.
int openLocked(const QByteArray& path, int& error) {
    for (;;) {
        const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            error = errno;
            return -1;
        }
        if (const int e = lockWholeFile(fd, true)) {
            ::close(fd);
            error = e;
            return -1;
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.constData(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return fd;
        ::close(fd);
    }
}

int readAll(int fd, QByteArray& content) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return 0;
        content.append(buffer, n);
        if (content.size() > (1 << 20)) return EFBIG;
    }
}

} // namespace

QString changeFileLocked(const QString& path,
                         const std::function<std::optional<QByteArray>(const QByteArray&, QString&)>& change) {
    const QByteArray name = fileNameBytes(path);
    int error = 0;
    const int fd = openLocked(name, error);
    if (fd < 0) return systemText(error);
    QByteArray old;
    QString text;
    if (const int e = readAll(fd, old)) {
        text = systemText(e);
    } else if (const std::optional<QByteArray> next = change(old, text)) {
        text = writeFileContent(path, *next);
    }
    ::close(fd); // lets the lock go, after the new content is in place
    return text;
}

QString createFileExclusively(const QString& path, const QByteArray& content) {
    ignoreFileSizeSignal();
    const int fd = ::open(fileNameBytes(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return systemText(errno);
    int error = 0;
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, static_cast<size_t>(content.size() - written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        written += n;
    }
    if (!error && ::fsync(fd) != 0) error = errno;
    ::close(fd);
    if (error) {
        ::unlink(fileNameBytes(path).constData());
        return systemText(error);
    }
    return {};
}

} // namespace platform
