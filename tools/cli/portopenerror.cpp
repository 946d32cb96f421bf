#include "portopenerror.h"

#include "platform/portholder.h"

#include <QFile>
#include <QStringList>

#include <cerrno>

QString portOpenErrorText(const QString& portName, const QString& devicePath, int systemErrorCode,
                          const QString& componentMessage) {
    const QString reason = systemErrorCode > 0 ? qt_error_string(systemErrorCode) : componentMessage;
    QString where = portName;
    if (devicePath != portName) where += QStringLiteral(" (%1)").arg(devicePath);
    QStringList lines;
    lines << QStringLiteral("chipwright-cli: cannot open the port %1: %2").arg(where, reason);
    switch (systemErrorCode) {
    case EACCES:
    case EPERM:
        lines << QStringLiteral(
            "chipwright-cli: your user may not use serial devices. Add it to the dialout group "
            "(sudo usermod -aG dialout $USER), then log out and in again.");
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        lines << QStringLiteral("chipwright-cli: no such device. Give the port with --port NAME; "
                                "\"chipwright-cli ports\" lists the serial devices.");
        break;
    case EBUSY: {
        const std::string holder = platform::portHolder(QFile::encodeName(devicePath).toStdString());
        if (holder.empty()) {
            lines << QStringLiteral(
                "chipwright-cli: the device is busy; if another program uses it, close that "
                "program and try again.");
        } else {
            // Who holds it belongs to the reason itself (the log and the tables keep the first line).
            lines[0] += QStringLiteral("; it is in use by process %1").arg(QString::fromLocal8Bit(holder.c_str()));
            lines << QStringLiteral("chipwright-cli: close that program and try again.");
        }
        break;
    }
    default:
        break;
    }
    return lines.join(QLatin1Char('\n'));
}
