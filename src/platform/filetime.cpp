#include "platform/filetime.h"

#include "platform/filenames.h"

#include <QLocale>
#include <QRegularExpression>

#include <sys/stat.h>

namespace platform {

QString stampText(const QDateTime& local) {
    const QLocale locale;
    // The long time format carries the seconds, but also a time zone name, which is dropped.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*$|^\\s*t+\\s*")));
    return locale.toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(local.time(), timeFormat.trimmed());
}

QString fileStamp(const QString& path) {
    struct stat st {};
    if (::stat(fileNameBytes(path).constData(), &st) != 0)
        return stampText(QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    QDateTime local = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec).toLocalTime();
    const QTime t = local.time();
    local.setTime(QTime(t.hour(), t.minute(), t.second() - t.second() % 2));
    return stampText(local);
}

FileSignature fileSignature(const QString& path) {
    struct stat st {};
    if (::stat(fileNameBytes(path).constData(), &st) != 0) return {};
    return {true, static_cast<qint64>(st.st_size),
            static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + static_cast<qint64>(st.st_mtim.tv_nsec)};
}

} // namespace platform
