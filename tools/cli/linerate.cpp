#include "linerate.h"

#include "serial/comport.h"
#include "serial/comtextforms.h"

void setLineRate(TCustomComPort& port, int bitsPerSecond) {
    const QString text = QString::number(bitsPerSecond);
    const TBaudRate listed = ParseBaudRate(text);
    if (listed != brCustom && BaudRateName(listed) == text) {
        port.SetBaudRate(listed);
        return;
    }
    port.SetCustomBaudRate(bitsPerSecond);
    port.SetBaudRate(brCustom);
}
