#include "production/jsonstring.h"

QByteArray jsonString(const QString& text) {
    QByteArray out = "\"";
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += QString(text.data() + i, 2).toUtf8();
            ++i;
        } else if (c.isSurrogate()) {
            // A lone surrogate is no character: the escape keeps its value.
            out += QByteArrayLiteral("\\u") + QByteArray::number(u, 16).rightJustified(4, '0');
        } else if (u == '"' || u == '\\') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u < 0x20) {
            out += QByteArrayLiteral("\\u") + QByteArray::number(u, 16).rightJustified(4, '0');
        } else {
            out += QString(c).toUtf8();
        }
    }
    return out + '"';
}
