#include "portopenerror.h"

#include "platform/netaddress.h"
#include "platform/portholder.h"

#include <QFile>
#include <QStringList>

#include <cerrno>

namespace {

QString networkHint(int systemErrorCode) {
    switch (systemErrorCode) {
    case EINVAL:
        return QStringLiteral("a network port is named rfc2217://HOST:PORT or tcp://HOST:PORT (an IPv6 "
                              "address in brackets: rfc2217://[::1]:3333).");
    case ENXIO:
        return QStringLiteral("no address is known for that host name; check the name, or give the address.");
    case ECONNREFUSED:
        return QStringLiteral("nothing accepts connections on that port; is ser2net running there, with this "
                              "port in its configuration?");
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
        return QStringLiteral("the host cannot be reached; check the address, the network and any firewall "
                              "between.");
    case EPROTONOSUPPORT:
        return QStringLiteral("the server did not agree to RFC 2217 port control; its accepter must be "
                              "telnet(rfc2217) (a raw TCP port is reached as tcp://HOST:PORT).");
    case ETIME:
        return QStringLiteral("the server did not confirm the line settings in time.");
    default:
        return {};
    }
}

} // namespace

QString portOpenErrorText(const QString& portName, const QString& devicePath, int systemErrorCode,
                          const QString& componentMessage) {
    const bool network = platform::isNetworkPortName(portName.toStdString());
    QString reason = systemErrorCode > 0 ? qt_error_string(systemErrorCode) : componentMessage;
    if (network && systemErrorCode > 0)
        reason = QString::fromLocal8Bit(platform::networkErrorText(systemErrorCode).c_str());
    QString where = portName;
    if (devicePath != portName) where += QStringLiteral(" (%1)").arg(devicePath);
    QStringList lines;
    lines << QStringLiteral("chipwright-cli: cannot open the port %1: %2").arg(where, reason);
    if (network) {
        if (const QString hint = networkHint(systemErrorCode); !hint.isEmpty())
            lines << QStringLiteral("chipwright-cli: ") + hint;
        return lines.join(QLatin1Char('\n'));
    }
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
