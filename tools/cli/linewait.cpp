#include "linewait.h"

#include "platform/terminal.h"

#include <QEventLoop>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

std::optional<QByteArray> LineWait::next() {
    for (;;) {
        if (const qsizetype end = pending_.indexOf('\n'); end >= 0) {
            const QByteArray line = pending_.left(end);
            pending_.remove(0, end + 1);
            return line;
        }
        if (ended_ || stopped_ || ::fcntl(STDIN_FILENO, F_GETFD) < 0) return std::nullopt;
        QEventLoop loop;
        loop_ = &loop;
        QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [this, &loop] {
            char buffer[256];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n > 0)
                pending_.append(buffer, n);
            else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                ended_ = true;
            loop.quit();
        });
        loop.exec();
        loop_ = nullptr;
        if (ended_ && !pending_.isEmpty() && !pending_.endsWith('\n')) pending_ += '\n';
    }
}

void LineWait::stop() {
    stopped_ = true;
    if (loop_) loop_->quit();
}

void LineWait::discardTyped() {
    if (!platform::isTerminal(STDIN_FILENO)) return;
    platform::discardTypedInput(STDIN_FILENO);
    pending_.clear();
}
