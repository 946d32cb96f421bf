#pragma once

#include "platform/appendfile.h"
#include "production/runend.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <mutex>
#include <optional>
#include <span>

// What every line of one session's log shares: who ran it, where, with what.
struct LogSession {
    QString id;       // one per run of the tool
    QString station;  // the host name
    QString operatorName;
    QString version;  // the tool's
    // A session id and this machine's host name; the operator and version as given.
    static LogSession make(const QString& operatorName, const QString& version);
};

// One run on one port, as the log keeps it.
struct RunRecord {
    QDateTime started;
    int round = 1;
    QString port;
    std::optional<QString> chip;
    QString operation;
    std::optional<QString> file;     // the image file as named ("-": standard input)
    std::optional<QString> sha256;   // of the image file's bytes as read
    std::optional<QString> checksum; // of the file's image programmed or verified, or of what was read
    std::optional<QString> programmedChecksum; // of the bytes really sent (the serial number included)
    std::optional<quint64> serial;   // the chip's serial number, when it was given one
    std::optional<QString> output;   // the file a read wrote
    std::optional<int> lock;         // the lock level an auto or lock run set
    RunVerdict verdict = RunVerdict::Failed;
    QString failure;
    qint64 elapsedMs = 0;
};

// The 16-bit sum of the bytes, as four upper-case hex digits.
QString imageChecksum(std::span<const unsigned char> bytes);
// The SHA-256 of the bytes, as 64 lower-case hex digits.
QString imageSha256(const QByteArray& bytes);
// The same of the file at path, read as it stands; empty when it cannot be read.
QString fileSha256(const QString& path);

// The record as one JSON object on one line (no line break); the fields in this order:
//   {"time":"2026-12-10T17:30:05.120+01:00","port":"ttyUSB0","chip":"AT89C2051","operation":"auto",
//    "file":"fw.hex","checksum":"3A7C","lock":3,"result":"passed","failure":"","duration":11.482,
//    "round":1,"session":"5f0c...","station":"bench-3","operator":"ann","version":"2.0",
//    "sha256":"9f86...","output":null,"serial":null,"programmed_checksum":"3A7C"}
QByteArray recordJson(const RunRecord& record, const LogSession& session);

// The --log file: one JSON line appended per run and port, whole or not at all (see platform::AppendFile):
// lines stay whole when several runs or several stations end at once, when the tool is killed, and when the
// disk fills, a file size limit is reached or a network share goes away.
class RunLog {
public:
    explicit RunLog(LogSession session = {}) : session_(std::move(session)) {}

    // Opens (creating it with mode 0666 less the umask) the file to append to; false with the reason in
    // error.
    bool open(const QString& path, QString& error);
    // Appends the record; false with the reason in error when the line could not be written whole, the file
    // then holding none of it.
    bool append(const RunRecord& record, QString& error);

private:
    LogSession session_;
    std::mutex mutex_;
    platform::AppendFile file_;
};
