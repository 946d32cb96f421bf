#include "platform/filenames.h"

namespace platform {

namespace {

// The length of the valid UTF-8 sequence that starts at bytes[i], or 0 when none does there.
qsizetype validSequenceLength(const QByteArray& bytes, qsizetype i) {
    const auto at = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(i);
    if (lead < 0x80) return 1;
    qsizetype length = 0;
    unsigned char low = 0x80;
    unsigned char high =
        0xBF; // the allowed range of the second byte: no overlong forms, surrogates or > U+10FFFF
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > bytes.size()) return 0;
    if (at(i + 1) < low || at(i + 1) > high) return 0;
    for (qsizetype k = 2; k < length; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return length;
}

bool isEscapedByte(const QString& name, qsizetype i) {
    const char16_t u = name[i].unicode();
    // A low surrogate that does not complete a pair.
    return u >= 0xDC80 && u <= 0xDCFF && (i == 0 || !name[i - 1].isHighSurrogate());
}

} // namespace

QString fileNameFromBytes(const QByteArray& bytes) {
    QString name;
    name.reserve(bytes.size());
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < bytes.size();) {
        const qsizetype length = validSequenceLength(bytes, i);
        if (length > 0) {
            i += length;
            continue;
        }
        name += QString::fromUtf8(bytes.constData() + runStart, i - runStart);
        name += QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[i])));
        runStart = ++i;
    }
    name += QString::fromUtf8(bytes.constData() + runStart, bytes.size() - runStart);
    return name;
}

QByteArray fileNameBytes(const QString& name) {
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isEscapedByte(name, i)) continue;
        bytes += QStringView(name).mid(runStart, i - runStart).toUtf8();
        bytes += static_cast<char>(name[i].unicode() - 0xDC00);
        runStart = i + 1;
    }
    bytes += QStringView(name).mid(runStart).toUtf8();
    return bytes;
}

} // namespace platform
