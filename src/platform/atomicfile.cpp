#include "platform/atomicfile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

AtomicWriteHook writeHook = nullptr;

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

void syncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

void setAtomicWriteHook(AtomicWriteHook hook) { writeHook = hook; }

bool replaceFileAtomically(const QString& path, const QByteArray& data) {
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder)) return false;

    QByteArray pattern = QFile::encodeName(folder + QLatin1String("/.") + info.fileName() + QLatin1String(".XXXXXX"));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return false;
    const QString temporary = QFile::decodeName(pattern);
    ::fchmod(fd, 0644); // mkstemp makes the file private; settings are ordinary user files

    const bool written = writeAll(fd, data.constData(), data.size()) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(pattern.constData());
        return false;
    }
    if (writeHook) writeHook(temporary);
    if (::rename(pattern.constData(), QFile::encodeName(info.absoluteFilePath()).constData()) != 0) {
        ::unlink(pattern.constData());
        return false;
    }
    syncFolder(folder);
    return true;
}

} // namespace platform
