#include "serial/ecomport.h"

#include "serial/cporttexts.h"

EComPort::EComPort(int portErrorCode, int systemErrorCode)
    : portErrorCode_(portErrorCode), systemErrorCode_(systemErrorCode) {
    message_ = PortErrorText(portErrorCode);
    if (systemErrorCode != -1) {
        QString suffix = CportText(WinErrorSuffix);
        suffix.replace(QLatin1String("%d"), QString::number(systemErrorCode));
        message_ += suffix;
    }
    utf8_ = message_.toUtf8();
}
