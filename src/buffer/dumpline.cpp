#include "buffer/dumpline.h"

#include <algorithm>

namespace {
const char hexDigits[] = "0123456789ABCDEF";

void appendByte(QChar*& out, quint8 byte) {
    *out++ = QLatin1Char(hexDigits[byte >> 4]);
    *out++ = QLatin1Char(hexDigits[byte & 0x0F]);
}
} // namespace

QString dumpLine(int address, std::span<const quint8, 16> bytes) {
    QString line(56, QLatin1Char(' '));
    QChar* out = line.data();
    for (int shift = 20; shift >= 0; shift -= 4) *out++ = QLatin1Char(hexDigits[(address >> shift) & 0x0F]);
    out += 2;
    for (int k = 0; k < 16; ++k) {
        if (k == 8) out += 1; // the second blank of the gap; the first follows byte 7 as usual
        appendByte(out, bytes[static_cast<size_t>(k)]);
        if (k != 15) out += 1;
    }
    return line;
}

QStringList dumpLines(std::span<const quint8> data, int length) {
    QStringList lines;
    const size_t usable = std::min(data.size(), static_cast<size_t>(std::max(length, 0)));
    const size_t count = usable / 16;
    lines.reserve(static_cast<qsizetype>(count));
    for (size_t i = 0; i < count; ++i)
        lines << dumpLine(static_cast<int>(i * 16), data.subspan(i * 16).first<16>());
    return lines;
}
