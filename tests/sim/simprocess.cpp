#include "simprocess.h"

#include <QDeadlineTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

SimProcess::~SimProcess() {
    closeDevice();
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QString SimProcess::executable() {
    return qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR", QStringLiteral(CHIPWRIGHT_BUILD_DIR_FALLBACK)) +
           "/chipwright-sim";
}

bool SimProcess::start(const QStringList& arguments) {
    process_.start(executable(), arguments);
    if (!process_.waitForStarted(10000)) {
        ADD_FAILURE() << "cannot start " << executable().toStdString();
        return false;
    }
    QDeadlineTimer deadline(10000);
    while (!process_.canReadLine() && !deadline.hasExpired())
        process_.waitForReadyRead(int(deadline.remainingTime()));
    device_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    if (!device_.startsWith("/dev/")) {
        ADD_FAILURE() << "no device path on the first line: " << device_.toStdString()
                      << process_.readAllStandardError().toStdString();
        return false;
    }
    return openDevice();
}

bool SimProcess::openDevice() {
    fd_ = ::open(QFile::encodeName(device_).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (fd_ < 0 || ::tcgetattr(fd_, &raw) != 0) {
        ADD_FAILURE() << "cannot open " << device_.toStdString() << ": " << errno;
        return false;
    }
    ::cfmakeraw(&raw);
    ::tcsetattr(fd_, TCSANOW, &raw);
    ::tcflush(fd_, TCIOFLUSH);
    return true;
}

void SimProcess::closeDevice() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void SimProcess::send(const QByteArray& bytes) {
    qsizetype done = 0;
    QDeadlineTimer deadline(10000);
    while (done < bytes.size() && !deadline.hasExpired()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        } else {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
    ASSERT_EQ(done, bytes.size()) << "write to the simulator failed";
}

QByteArray SimProcess::receive(int count, int timeoutMs) {
    QByteArray bytes;
    QDeadlineTimer deadline(timeoutMs);
    while (bytes.size() < count && !deadline.hasExpired()) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(std::max<qint64>(1, deadline.remainingTime()))) <= 0) continue;
        char buffer[256];
        const ssize_t n =
            ::read(fd_, buffer, size_t(std::min<qsizetype>(qsizetype(sizeof buffer), count - bytes.size())));
        if (n > 0)
            bytes.append(buffer, n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return bytes;
}

int SimProcess::terminate() {
    process_.terminate();
    return waitForExit();
}

int SimProcess::waitForExit(int timeoutMs) {
    if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(timeoutMs)) return -1;
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}
