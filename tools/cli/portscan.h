#pragma once

#include "platform/portdetails.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class TCustomComPort;

// "ports": one line per device, its name first (as --port takes it), then what stands behind it:
//   ttyUSB0  usb 0403:6001  FTDI  FT232R USB UART  serial A600XYZ
//   /dev/serial/by-id/usb-FTDI_..._A600XYZ-if00-port0
QString portLine(const platform::SerialPortDetails& port);

// "ports --probe": what a port did with the probe.
enum class ProbeOutcome {
    Programmer,   // answered 02, as a programmer does
    OtherAnswer,  // answered something else
    Silent,       // nothing within the wait
    Busy,         // another program holds it
    NotPermitted, // the user may not open it
    Failed,       // missing, or the open or the write failed otherwise
    Refused,      // never written to: the kernel's console, or a placeholder without hardware (reason says)
};

struct ProbeResult {
    QString port;
    ProbeOutcome outcome = ProbeOutcome::Failed;
    QByteArray reply; // what arrived (OtherAnswer, Programmer)
    QString reason;   // the system's reason (Failed, Busy, NotPermitted)
};

// The outcome a failed open's errno stands for.
ProbeOutcome outcomeOfOpenError(int systemError);

// Opens every port at once (but for the kernel's console and placeholder ports, which are not touched), each set up by configure (the saved line settings) before it opens, sends the
// probe [FA 00 00] on each 30 ms later, as the window's start-up does, and collects the answers until every
// open port has answered or waitMs has passed. Results in the order of ports. Runs the event loop meanwhile.
std::vector<ProbeResult> probePorts(const QStringList& ports,
                                    const std::function<void(TCustomComPort&)>& configure, int waitMs);

// "/dev/pts/3  programmer: answered 02" and the like.
QString probeLine(const ProbeResult& result, qsizetype nameWidth);
