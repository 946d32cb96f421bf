#include "production/blankcheck.h"

BlankCheck BlankCheck::of(std::span<const unsigned char> chip) {
    BlankCheck check;
    for (size_t i = 0; i < chip.size(); ++i) {
        if (chip[i] == 0xFF) continue;
        if (check.notBlank++ == 0) {
            check.firstAddress = static_cast<int>(i);
            check.firstByte = chip[i];
        }
    }
    return check;
}

QString BlankCheck::text() const {
    if (blank()) return QStringLiteral("Chip is blank");
    return QStringLiteral("Chip is not blank: %1 %2 not FF, the first at %3H holds %4H")
        .arg(notBlank)
        .arg(notBlank == 1 ? QStringLiteral("byte is") : QStringLiteral("bytes are"))
        .arg(QString::number(firstAddress, 16).toUpper().rightJustified(4, QLatin1Char('0')))
        .arg(QString::number(firstByte, 16).toUpper().rightJustified(2, QLatin1Char('0')));
}
