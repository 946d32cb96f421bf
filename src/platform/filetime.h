#pragma once

#include <QDateTime>
#include <QString>

namespace platform {

// The file stamp the Open command records and the file watch compares: the file's last modification in local
// time, cut to even seconds, as the locale's date-and-time text (short date, time with seconds). Stamps are
// compared as text, so two writes within the same two seconds look alike. A file that cannot be found gives
// the text of time zero, 1899-12-30 00:00:00.
QString fileStamp(const QString& path);

// The text form of a local date and time, as used by fileStamp.
QString stampText(const QDateTime& local);

} // namespace platform
