#include "buffer/hexwriter.h"

#include "platform/atomicfile.h"

#include <optional>

namespace {

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    return -1;
}

// The line without blanks and control characters, or nullopt (with error set) when a character left is not a
// hex digit.
std::optional<QString> digitsOf(const QString& line, QString& error) {
    QString digits;
    digits.reserve(line.size());
    for (QChar c : line) {
        if (c.unicode() <= ' ') continue;
        if (hexValue(c) < 0) {
            error = QStringLiteral("'%1' is not a hexadecimal digit").arg(c);
            return std::nullopt;
        }
        digits.append(c);
    }
    return digits;
}

int number(const QString& digits, qsizetype from, qsizetype count) {
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i)
        value = value * 16 + hexValue(digits[i]);
    return value;
}

QString lineError(qsizetype index, const QString& why) {
    return QStringLiteral("Line %1 of the hex view cannot be saved: %2.").arg(index + 1).arg(why);
}

// The record of one line's digits (already checked to be hex digits), or error set.
QByteArray hexRecord(const QString& digits, QString& error) {
    if (digits.size() < 6) {
        error = QStringLiteral("the address needs six hexadecimal digits");
        return {};
    }
    const qsizetype dataDigits = digits.size() - 6;
    if (dataDigits % 2 != 0) {
        error = QStringLiteral("a byte has only one digit");
        return {};
    }
    const int count = static_cast<int>(dataDigits / 2);
    if (count > 255) {
        error = QStringLiteral("a record holds at most 255 bytes");
        return {};
    }
    const int address = number(digits, 0, 6);
    if (address + count > 0x10000) {
        error = QStringLiteral("Intel HEX records reach only up to address 00FFFF");
        return {};
    }
    int sum = count + (address >> 8) + (address & 0xFF);
    for (int k = 0; k < count; ++k)
        sum += number(digits, 6 + 2 * k, 2);
    const auto hex2 = [](int v) {
        return QStringLiteral("%1").arg(v & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    };
    const QString record =
        QLatin1Char(':') + hex2(count) + digits.mid(2, 4) + QLatin1String("00") + digits.mid(6) + hex2(-sum);
    return record.toLatin1();
}

} // namespace

WriterOutput hexFileText(const QStringList& lines) {
    WriterOutput out;
    out.bytes.reserve(lines.size() * 45 + 13);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString why;
        const std::optional<QString> digits = digitsOf(lines[i], why);
        if (digits && digits->isEmpty()) continue;
        const QByteArray record = digits ? hexRecord(*digits, why) : QByteArray();
        if (!why.isEmpty()) return {{}, lineError(i, why)};
        out.bytes += record;
        out.bytes += "\r\n";
    }
    out.bytes += ":00000001FF\r\n";
    return out;
}

WriterOutput binaryImage(const QStringList& lines) {
    WriterOutput out;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString why;
        const std::optional<QString> digits = digitsOf(lines[i], why);
        if (!digits) return {{}, lineError(i, why)};
        if (digits->isEmpty()) continue;
        if (digits->size() != 6 + 32)
            return {{}, lineError(i, QStringLiteral("a line needs six address digits and sixteen bytes"))};
        const int address = number(*digits, 0, 6);
        out.bytes.resize(address + 16, '\0');
        for (int k = 0; k < 16; ++k)
            out.bytes[address + k] = static_cast<char>(number(*digits, 6 + 2 * k, 2));
    }
    return out;
}

QString writeLines(const QStringList& lines, const QString& path, SaveFormat format) {
    const WriterOutput out = format == SaveFormat::Hex ? hexFileText(lines) : binaryImage(lines);
    if (!out.ok()) return out.error;
    return platform::writeFileContent(path, out.bytes);
}
