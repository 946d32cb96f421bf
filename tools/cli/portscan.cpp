#include "portscan.h"

#include "platform/netaddress.h"
#include "platform/portlist.h"
#include "platform/serialdevice.h"
#include "platform/sleep.h"
#include "programmer/linkprotocol.h"
#include "serial/comport.h"
#include "serial/ecomport.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

QString portLine(const platform::SerialPortDetails& port) {
    QStringList fields{text(port.name)};
    // COM1 is /dev/ttyS0: the name a user of this system looks for stands beside it.
    if (const std::string path = platform::SerialDevice::devicePath(port.name); path != "/dev/" + port.name && path != port.name)
        fields << text(path);
    if (!port.vendorId.empty() || !port.productId.empty())
        fields << QStringLiteral("usb %1:%2").arg(text(port.vendorId), text(port.productId));
    if (!port.manufacturer.empty()) fields << text(port.manufacturer);
    if (!port.product.empty()) fields << text(port.product);
    if (!port.serial.empty()) fields << QStringLiteral("serial ") + text(port.serial);
    for (const std::string& link : port.byId)
        fields << text(link);
    return fields.join(QLatin1String("  "));
}

ProbeOutcome outcomeOfOpenError(int systemError) {
    switch (systemError) {
    case EBUSY:
    case EWOULDBLOCK:
        return ProbeOutcome::Busy;
    case EACCES:
    case EPERM:
        return ProbeOutcome::NotPermitted;
    default:
        return ProbeOutcome::Failed;
    }
}

std::vector<ProbeResult> probePorts(const QStringList& ports,
                                    const std::function<void(TCustomComPort&)>& configure, int waitMs) {
    std::vector<ProbeResult> results(static_cast<size_t>(ports.size()));
    std::vector<std::unique_ptr<TComPort>> open(results.size());
    std::vector<bool> awaiting(results.size(), false);
    QEventLoop loop;
    int waiting = 0;

    for (size_t i = 0; i < results.size(); ++i) {
        ProbeResult& r = results[i];
        r.port = ports[static_cast<qsizetype>(i)];
        const std::string refusal = platform::probeRefusal(
            platform::SerialDevice::devicePath(r.port.toStdString()));
        if (!refusal.empty()) {
            r.outcome = ProbeOutcome::Refused;
            r.reason = QString::fromStdString(refusal);
            continue;
        }
        auto port = std::make_unique<TComPort>();
        try {
            if (configure) configure(*port);
            port->SetPort(r.port);
            port->OnRxChar = [&, i](TCustomComPort* sender, int count) {
                ProbeResult& answer = results[i];
                QByteArray bytes(count, '\0');
                bytes.resize(std::max(sender->ReadBytes(bytes.data(), count), 0));
                if (bytes.isEmpty() || !awaiting[i]) return;
                awaiting[i] = false;
                answer.reply = bytes;
                answer.outcome = quint8(bytes[0]) == protocol::statusReady ? ProbeOutcome::Programmer
                                                                           : ProbeOutcome::OtherAnswer;
                if (--waiting == 0) loop.quit();
            };
            port->Connect();
        } catch (const EComPort& e) {
            r.outcome = outcomeOfOpenError(e.SystemErrorCode());
            const int code = e.SystemErrorCode();
            if (code <= 0)
                r.reason = e.Message();
            else if (platform::isNetworkPortName(r.port.toStdString()))
                r.reason = QString::fromLocal8Bit(platform::networkErrorText(code).c_str());
            else
                r.reason = QString::fromLocal8Bit(std::strerror(code));
            continue;
        } catch (const std::exception& e) {
            r.reason = QString::fromUtf8(e.what());
            continue;
        }
        r.outcome = ProbeOutcome::Silent;
        open[i] = std::move(port);
    }

    platform::sleepMs(protocol::probeDelayMs);
    static const quint8 probe[] = {protocol::probeByte, 0x00, 0x00};
    for (size_t i = 0; i < results.size(); ++i) {
        if (!open[i]) continue;
        try {
            if (open[i]->WriteBytes(probe, sizeof probe) == sizeof probe) {
                awaiting[i] = true;
                ++waiting;
                continue;
            }
            results[i].reason = QStringLiteral("the probe could not be written");
        } catch (const std::exception& e) {
            results[i].reason = QString::fromUtf8(e.what());
        }
        results[i].outcome = ProbeOutcome::Failed;
    }

    if (waiting > 0) {
        QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    for (auto& port : open) {
        if (!port) continue;
        port->OnRxChar = nullptr;
        try {
            port->Disconnect();
        } catch (const std::exception&) {
            // Closing a port that was only probed: nothing of the user's is lost.
        }
    }
    return results;
}

QString probeLine(const ProbeResult& r, qsizetype nameWidth) {
    QString what;
    switch (r.outcome) {
    case ProbeOutcome::Programmer:
        what = QStringLiteral("programmer: answered 02");
        break;
    case ProbeOutcome::OtherAnswer:
        what = QStringLiteral("answered %1, not as a programmer")
                   .arg(QString::fromLatin1(r.reply.toHex(' ').toUpper()));
        break;
    case ProbeOutcome::Silent:
        what = QStringLiteral("silent");
        break;
    case ProbeOutcome::Busy:
        what = QStringLiteral("busy: another program holds it");
        break;
    case ProbeOutcome::NotPermitted:
        what = QStringLiteral("not permitted (%1; is the user in the dialout group?)").arg(r.reason);
        break;
    case ProbeOutcome::Failed:
        what = QStringLiteral("cannot be probed: %1").arg(r.reason);
        break;
    case ProbeOutcome::Refused:
        what = QStringLiteral("not probed: %1").arg(r.reason);
        break;
    }
    return r.port.leftJustified(nameWidth) + QStringLiteral("  ") + what;
}
