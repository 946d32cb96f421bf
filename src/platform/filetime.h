#pragma once

#include <QDateTime>
#include <QString>

namespace platform {

// The file stamp the Open command records and the file watch compares: the file's last modification in local
// time, cut to even seconds, as the locale's date-and-time text (short date, time with seconds). Stamps are
// compared as text, so two writes within the same two seconds look alike. A file that cannot be found gives
// the text of time zero, 1899-12-30 00:00:00.
QString fileStamp(const QString& path);

// What tells one version of a file from the next more finely than the stamp: its size and modification time
// to the nanosecond (all zero for a file that cannot be found). Two equal signatures a while apart show that
// nobody wrote to the file meanwhile.
struct FileSignature {
    bool exists = false;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    bool operator==(const FileSignature&) const = default;
};
FileSignature fileSignature(const QString& path);

// The text form of a local date and time, as used by fileStamp.
QString stampText(const QDateTime& local);

} // namespace platform
