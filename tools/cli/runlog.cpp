#include "runlog.h"

#include "jsonstring.h"

#include "platform/filenames.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray field(const char* name, const QByteArray& value) {
    return QByteArray("\"") + name + "\":" + value;
}

} // namespace

QString imageChecksum(std::span<const unsigned char> bytes) {
    unsigned sum = 0;
    for (const unsigned char b : bytes)
        sum += b;
    return QStringLiteral("%1").arg(sum & 0xFFFFu, 4, 16, QLatin1Char('0')).toUpper();
}

QByteArray recordJson(const RunRecord& r) {
    const QDateTime local = r.started.toLocalTime();
    const QString time = local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
    const QByteArray null = "null";
    QList<QByteArray> fields = {
        field("time", jsonString(time)),
        field("port", jsonString(r.port)),
        field("chip", r.chip ? jsonString(*r.chip) : null),
        field("operation", jsonString(r.operation)),
        field("file", r.file ? jsonString(*r.file) : null),
        field("checksum", r.checksum ? jsonString(*r.checksum) : null),
        field("lock", r.lock ? QByteArray::number(*r.lock) : null),
        field("result", jsonString(r.passed ? QStringLiteral("passed") : QStringLiteral("failed"))),
        field("failure", jsonString(r.failure)),
        field("duration", QByteArray::number(static_cast<double>(r.elapsedMs) / 1000.0, 'f', 3)),
    };
    return '{' + fields.join(',') + '}';
}

RunLog::~RunLog() {
    if (fd_ >= 0) ::close(fd_);
}

bool RunLog::open(const QString& path, QString& error) {
    fd_ = ::open(platform::fileNameBytes(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

bool RunLog::append(const RunRecord& record, QString& error) {
    const QByteArray line = recordJson(record) + '\n';
    std::lock_guard lock(mutex_);
    ssize_t written;
    do {
        written = ::write(fd_, line.constData(), static_cast<size_t>(line.size()));
    } while (written < 0 && errno == EINTR);
    if (written == line.size()) return true;
    error = written < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                        : QStringLiteral("only %1 of %2 bytes written").arg(written).arg(line.size());
    return false;
}
