#include "platform/appendfile.h"

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

off_t fileSize(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

} // namespace

AppendFile::~AppendFile() {
    if (fd_ >= 0) ::close(fd_);
}

QString AppendFile::open(const QString& path) {
    ignoreFileSizeSignal();
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(fileNameBytes(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    return fd_ < 0 ? systemText(errno) : QString();
}

QString AppendFile::append(const QByteArray& record) {
    if (fd_ < 0) return systemText(EBADF);
    // A file system without such locks is written without one.
    lockWholeFile(fd_, true);
    const off_t before = fileSize(fd_);
    qsizetype written = 0;
    int error = 0;
    while (written < record.size()) {
        const ssize_t n =
            ::write(fd_, record.constData() + written, static_cast<size_t>(record.size() - written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        written += n;
    }
    // A share that went away, or a disk that filled, may tell only when the bytes are flushed.
    if (error == 0 && ::fdatasync(fd_) != 0 && errno != EINVAL) error = errno;
    QString text;
    if (error != 0) {
        text = systemText(error);
        if (written > 0 && before >= 0) {
            if (fileSize(fd_) != before + written)
                text += QStringLiteral("; part of the record stays in the file, as others wrote after it");
            else if (::ftruncate(fd_, before) != 0)
                text += QStringLiteral("; part of the record stays in the file (%1)").arg(systemText(errno));
        }
    }
    unlockWholeFile(fd_);
    return text;
}

} // namespace platform
