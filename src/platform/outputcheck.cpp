#include "platform/outputcheck.h"

#include "platform/filenames.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) return QByteArrayLiteral(".");
    if (slash == 0) return QByteArrayLiteral("/");
    return path.left(slash);
}

// Whether a new file can be made in folder: 0 or the errno. An unnamed file where the file system has them
// (it leaves no trace), else a named one that is removed at once. Only a real try tells of a read-only mount, a
// full inode table or a folder such as /proc that no permission bit describes.
int canCreateIn(const QByteArray& folder) {
    int fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name =
            folder + "/.chipwright-check-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(attempt);
        fd = ::open(name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(name.constData());
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

// Whether the existing regular file at path opens for writing, without changing it: 0 or the errno.
int opensForWriting(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

} // namespace

QString outputProblem(const QString& name) {
    if (name.isEmpty()) return systemText(ENOENT);
    QByteArray path = fileNameBytes(name);
    // The final target of a chain of links.
    for (int hop = 0;; ++hop) {
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        if (hop == 40) return systemText(ELOOP);
        QByteArray target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.constData(), target.data(), static_cast<size_t>(target.size()));
        if (n < 0 || n >= target.size()) return systemText(n < 0 ? errno : ENAMETOOLONG);
        target.truncate(n);
        path = target.startsWith('/') ? target : folderOf(path) + '/' + target;
    }
    const QByteArray folder = folderOf(path);
    struct stat folderStat {};
    if (::stat(folder.constData(), &folderStat) != 0) return systemText(errno);
    if (!S_ISDIR(folderStat.st_mode)) return systemText(ENOTDIR);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        if (errno != ENOENT) return systemText(errno);
        const int error = canCreateIn(folder);
        return error ? systemText(error) : QString();
    }
    if (S_ISDIR(st.st_mode)) return systemText(EISDIR);
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode))
        return QStringLiteral("Not a regular file");
    // A FIFO or a device is written into when the time comes (whether a FIFO has a reader then, only then
    // tells). A regular file is replaced through its folder, or written in place when the folder refuses.
    if (!S_ISREG(st.st_mode) || canCreateIn(folder) == 0) return {};
    const int error = opensForWriting(path);
    return error ? systemText(error) : QString();
}

} // namespace platform
