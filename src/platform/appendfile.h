#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// A file that records are appended to, whole or not at all, by this process and by others at the same time
// (several stations keeping one log on a network share).
//
// Each record goes out in one write to a file opened for appending, under an exclusive lock on the whole
// file that every AppendFile takes, and is flushed to the disk before the lock is let go. When it cannot be
// written whole (a full disk, a file size limit, a share that went away, a failed flush), what went out of it
// is cut off again, so no half record stays in the file. Records that other writers appended are never
// touched: the cut is made only while the file ends with this record's bytes.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens the file at path for appending, creating it (mode 0666 less the umask) when it does not exist.
    // Returns an empty text, or the cause in the system's words.
    QString open(const QString& path);
    bool isOpen() const { return fd_ >= 0; }

    // Appends record. Returns an empty text when it is in the file and on the disk; otherwise the cause in
    // the system's words, the file then holding none of it (or, if even the cut failed, saying so too).
    QString append(const QByteArray& record);

private:
    int fd_ = -1;
};

} // namespace platform
