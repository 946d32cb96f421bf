#include "production/runend.h"

#include <QtGlobal>

QString verdictText(RunVerdict verdict) {
    switch (verdict) {
    case RunVerdict::Passed:
        return QStringLiteral("passed");
    case RunVerdict::Failed:
        return QStringLiteral("failed");
    case RunVerdict::PortError:
        return QStringLiteral("port-error");
    }
    return {};
}

QString withSystemWords(const QString& text, int systemErrorCode) {
    if (systemErrorCode <= 0) return text;
    return text + QStringLiteral(": ") + qt_error_string(systemErrorCode);
}
