#pragma once

#include <QDateTime>
#include <QString>

#include <mutex>
#include <optional>
#include <span>

// One run on one port, as the log keeps it.
struct RunRecord {
    QDateTime started;
    QString port;
    std::optional<QString> chip;
    QString operation;
    std::optional<QString> file;     // the image file as named ("-": standard input)
    std::optional<QString> checksum; // of the image programmed, verified or read
    std::optional<int> lock;         // the lock level an auto or lock run set
    bool passed = false;
    QString failure;
    qint64 elapsedMs = 0;
};

// The 16-bit sum of the bytes, as four upper-case hex digits.
QString imageChecksum(std::span<const unsigned char> bytes);

// The record as one JSON object on one line (no line break):
//   {"time":"2026-12-10T17:30:05.120+01:00","port":"ttyUSB0","chip":"AT89C2051","operation":"auto",
//    "file":"fw.hex","checksum":"3A7C","lock":3,"result":"passed","failure":"","duration":11.482}
QByteArray recordJson(const RunRecord& record);

// The --log file: one JSON line appended per run and port. Each line goes out in one write to a file opened
// for appending, so lines stay whole when several runs (or several processes) end at once, and a killed
// program leaves no half line behind.
class RunLog {
public:
    RunLog() = default;
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Opens (creating it with mode 0666 less the umask) the file to append to; false with the reason in
    // error.
    bool open(const QString& path, QString& error);
    // Appends the record; false with the reason in error when the line could not be written whole.
    bool append(const RunRecord& record, QString& error);

private:
    std::mutex mutex_;
    int fd_ = -1;
};
