#include "support/outputtargets.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace {
constexpr uid_t nobody = 65534;
}

SmallTmpfs::SmallTmpfs(int kilobytes) {
    const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0777";
    if (::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                options.constData()) == 0) {
        mounted_ = true;
        return;
    }
    reason_ = QStringLiteral("cannot mount a small tmpfs here (%1): needs root or CAP_SYS_ADMIN")
                  .arg(QString::fromLocal8Bit(std::strerror(errno)));
}

SmallTmpfs::~SmallTmpfs() {
    if (mounted_) ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
}

void SmallTmpfs::fill() {
    const QByteArray filler = QFile::encodeName(path() + QStringLiteral("/.filler"));
    const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const QByteArray block(512, 'f');
    while (::write(fd, block.constData(), static_cast<size_t>(block.size())) > 0) {
    }
    ::close(fd);
}

unsigned unprivilegedUid() {
    return ::geteuid() == 0 ? nobody : ::geteuid();
}

void shareWithUnprivilegedUser(const QString& folder) {
    ::chmod(QFile::encodeName(folder).constData(), 0777);
}

int runInUnprivilegedChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0))
            ::_exit(126);
        ::_exit(body());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

QByteArray readFifoWhileWriting(const QString& fifo, const std::function<bool()>& write, int attempts,
                                int pauseUs) {
    const QByteArray path = QFile::encodeName(fifo);
    QByteArray received;
    std::thread reader([&] {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            received.append(buffer, n);
        ::close(fd);
    });
    bool written = false;
    for (int i = 0; i < attempts && !written; ++i) {
        written = write();
        if (!written) ::usleep(static_cast<useconds_t>(pauseUs));
    }
    // Release the reader, which waits in its open for a writer.
    if (!written) ::close(::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    reader.join();
    return received;
}
