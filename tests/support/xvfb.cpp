#include "support/xvfb.h"

#include <QByteArray>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

XvfbServer::XvfbServer() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    // The server writes its display number to the descriptor -displayfd names, which must stay open across
    // the exec: a copy without close-on-exec.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int childFd = 3;
    posix_spawn_file_actions_adddup2(&actions, fds[1], childFd);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull >= 0) posix_spawn_file_actions_adddup2(&actions, devNull, STDERR_FILENO);
    const QByteArray fdText = QByteArray::number(childFd);
    const char* argv[] = {"Xvfb", "-displayfd", fdText.constData(), "-screen", "0", "1280x800x24",
                          "-nolisten", "tcp", "-noreset", nullptr};
    const int spawned = ::posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (devNull >= 0) ::close(devNull);
    ::close(fds[1]);
    if (spawned != 0) {
        pid_ = -1;
        ::close(fds[0]);
        error_ = QStringLiteral("cannot start Xvfb: %1").arg(QString::fromLocal8Bit(std::strerror(spawned)));
        return;
    }
    QByteArray number;
    pollfd p{fds[0], POLLIN, 0};
    // Xvfb ends the number with a newline once it accepts clients; an Xvfb that fails closes the pipe.
    while (!number.contains('\n') && ::poll(&p, 1, 30000) > 0) {
        char buffer[16];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        number.append(buffer, n);
    }
    ::close(fds[0]);
    if (!number.contains('\n')) {
        error_ = QStringLiteral("Xvfb gave no display number");
        return;
    }
    display_ = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
}

XvfbServer::~XvfbServer() {
    if (pid_ < 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}
