#include "platform/atomicfile.h"

#include "platform/filenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

AtomicWriteHook writeHook = nullptr;

// Symbolic links followed before the chain counts as a loop, as the kernel counts them.
constexpr int maxLinkHops = 40;

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The outcome of one step: 0, or the errno that ended it.
int writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= n;
    }
    return 0;
}

void syncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) return QByteArrayLiteral(".");
    if (slash == 0) return QByteArrayLiteral("/");
    return path.left(slash);
}

QByteArray baseNameOf(const QByteArray& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

// The path that writing through path reaches: symbolic links followed, relative link texts taken from the
// link's folder. The final name need not exist. 0 or the errno (ELOOP for a chain that does not end).
int followLinks(QByteArray& path) {
    for (int hop = 0; hop <= maxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return 0;
        QByteArray target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.constData(), target.data(), static_cast<size_t>(target.size()));
        if (n < 0) return errno;
        if (n >= target.size()) return ENAMETOOLONG;
        target.truncate(n);
        path = target.startsWith('/') ? target : folderOf(path) + '/' + target;
    }
    return ELOOP;
}

mode_t currentUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (!line.startsWith("Umask:")) continue;
            bool ok = false;
            const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
            if (ok) return static_cast<mode_t>(mask);
        }
    }
    // Older kernels do not show it; reading it this way briefly changes it for the whole process.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// Writes data to a fresh temporary file beside target and renames it over target. existing is target's
// status when it is a regular file, else null. 0 or the errno; the temporary file never outlives a failure.
int replaceByRename(const QByteArray& target, const QByteArray& data, const struct stat* existing) {
    QByteArray temporary = folderOf(target) + "/." + baseNameOf(target) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return errno;

    int error = 0;
    if (existing) {
        // Keep the owner where allowed (root replacing another user's file); the mode after it, since a
        // change of owner can clear set-id bits.
        if (::fchown(fd, existing->st_uid, existing->st_gid) != 0) {
            // Not permitted for an ordinary user on a file of another group: the file is theirs now.
        }
        if (::fchmod(fd, existing->st_mode & 07777) != 0) error = errno;
    } else if (::fchmod(fd, 0666 & ~currentUmask()) != 0) {
        error = errno;
    }
    if (!error) error = writeAll(fd, data.constData(), data.size());
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && writeHook) writeHook(fileNameFromBytes(temporary));
    if (!error && ::rename(temporary.constData(), target.constData()) != 0) error = errno;
    if (error) {
        ::unlink(temporary.constData());
        return error;
    }
    syncFolder(folderOf(target));
    return 0;
}

// For a writable file in a folder that takes no new names: the space is reserved before the first byte is
// written, so a full disk fails before the old content is touched.
int overwriteInPlace(const QByteArray& target, const QByteArray& data) {
    const int fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return errno;
    int error = 0;
    if (!data.isEmpty()) {
        const int reserved = ::posix_fallocate(fd, 0, static_cast<off_t>(data.size()));
        // Filesystems without preallocation say so; then the write itself must show a full disk.
        if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) error = reserved;
    }
    if (!error) error = writeAll(fd, data.constData(), data.size());
    if (!error && ::ftruncate(fd, static_cast<off_t>(data.size())) != 0) error = errno;
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    return error;
}

// A FIFO or a character device takes the bytes as a stream; it is never truncated, replaced or removed.
QString writeIntoStream(const QByteArray& target, const QByteArray& data, bool fifo) {
    // Without O_NONBLOCK, opening a FIFO that nobody reads would wait for ever.
    const int fd = ::open(target.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (fifo && errno == ENXIO) return QStringLiteral("No process reads from this FIFO");
        return systemText(errno);
    }
    int error = 0;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) error = errno;
    if (!error) error = writeAll(fd, data.constData(), data.size());
    if (::close(fd) != 0 && !error) error = errno;
    return error ? systemText(error) : QString();
}

} // namespace

void ignoreFileSizeSignal() {
    // Past a file size limit (ulimit -f) the kernel sends SIGXFSZ, which ends the process unless ignored;
    // ignored, the write fails with EFBIG and is reported like a full disk.
    static const bool sizeSignalIgnored = [] { return ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR; }();
    Q_UNUSED(sizeSignalIgnored);
}

void setAtomicWriteHook(AtomicWriteHook hook) {
    writeHook = hook;
}

QString writeFileContent(const QString& path, const QByteArray& data) {
    ignoreFileSizeSignal();
    QByteArray target = fileNameBytes(path);
    if (target.isEmpty()) return systemText(ENOENT);
    if (const int error = followLinks(target)) return systemText(error);

    struct stat st {};
    if (::lstat(target.constData(), &st) != 0) {
        if (errno != ENOENT) return systemText(errno);
        const int error = replaceByRename(target, data, nullptr);
        return error ? systemText(error) : QString();
    }
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))
        return writeIntoStream(target, data, S_ISFIFO(st.st_mode));
    if (S_ISDIR(st.st_mode)) return systemText(EISDIR);
    if (!S_ISREG(st.st_mode)) return QStringLiteral("Not a regular file, a FIFO or a character device");

    const int error = replaceByRename(target, data, &st);
    if (error != EACCES && error != EPERM) return error ? systemText(error) : QString();
    // The folder takes no temporary file; the file itself may still be writable.
    const int inPlace = overwriteInPlace(target, data);
    if (inPlace == EACCES || inPlace == EPERM) return systemText(error);
    return inPlace ? systemText(inPlace) : QString();
}

bool replaceFileAtomically(const QString& path, const QByteArray& data) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) return false;
    return writeFileContent(path, data).isEmpty();
}

} // namespace platform
