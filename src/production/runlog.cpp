#include "production/runlog.h"

#include "platform/regularfile.h"
#include "production/jsonstring.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSysInfo>
#include <QUuid>

namespace {

QByteArray jsonString(const std::optional<QString>& text) {
    return text ? jsonString(*text) : QByteArray("null");
}

QByteArray field(const char* name, const QByteArray& value) {
    return QByteArray("\"") + name + "\":" + value;
}

} // namespace

LogSession LogSession::make(const QString& operatorName, const QString& version) {
    return {QUuid::createUuid().toString(QUuid::WithoutBraces), QSysInfo::machineHostName(), operatorName,
            version};
}

QString imageChecksum(std::span<const unsigned char> bytes) {
    unsigned sum = 0;
    for (const unsigned char b : bytes)
        sum += b;
    return QStringLiteral("%1").arg(sum & 0xFFFFu, 4, 16, QLatin1Char('0')).toUpper();
}

QString imageSha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString fileSha256(const QString& path) {
    QString problem;
    QFile file;
    if (!platform::openRegularFile(file, path, problem)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) return {};
    return QString::fromLatin1(hash.result().toHex());
}

QByteArray recordJson(const RunRecord& r, const LogSession& s) {
    const QDateTime local = r.started.toLocalTime();
    const QString time = local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
    const QByteArray null = "null";
    const QList<QByteArray> fields = {
        field("time", jsonString(time)),
        field("port", jsonString(r.port)),
        field("chip", jsonString(r.chip)),
        field("operation", jsonString(r.operation)),
        field("file", jsonString(r.file)),
        field("checksum", jsonString(r.checksum)),
        field("lock", r.lock ? QByteArray::number(*r.lock) : null),
        field("result", jsonString(verdictText(r.verdict))),
        field("failure", jsonString(r.failure)),
        field("duration", QByteArray::number(static_cast<double>(r.elapsedMs) / 1000.0, 'f', 3)),
        field("round", QByteArray::number(r.round)),
        field("session", jsonString(s.id)),
        field("station", jsonString(s.station)),
        field("operator", jsonString(s.operatorName)),
        field("version", jsonString(s.version)),
        field("sha256", jsonString(r.sha256)),
        field("output", jsonString(r.output)),
        field("serial", r.serial ? QByteArray::number(*r.serial) : null),
        field("programmed_checksum", jsonString(r.programmedChecksum)),
    };
    return '{' + fields.join(',') + '}';
}

bool RunLog::open(const QString& path, QString& error) {
    error = file_.open(path);
    return error.isEmpty();
}

bool RunLog::append(const RunRecord& record, QString& error) {
    const QByteArray line = recordJson(record, session_) + '\n';
    std::lock_guard lock(mutex_);
    error = file_.append(line);
    return error.isEmpty();
}
