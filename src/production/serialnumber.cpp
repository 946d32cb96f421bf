#include "production/serialnumber.h"

#include "platform/lockedfile.h"
#include "platform/regularfile.h"

#include <QFile>

#include <algorithm>
#include <limits>

namespace {

int maxLength(SerialField::Format format) {
    switch (format) {
    case SerialField::Format::LittleEndian:
    case SerialField::Format::BigEndian:
        return 8;
    case SerialField::Format::Bcd:
        return 10;
    case SerialField::Format::Ascii:
        return 20;
    }
    return 0;
}

std::optional<quint64> parseNumber(const QByteArray& text, QString& error) {
    bool ok = false;
    const QByteArray digits = text.trimmed();
    const quint64 value = digits.toULongLong(&ok, 10);
    if (!ok || digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        error = QStringLiteral("it holds no serial number (\"%1\")").arg(QString::fromUtf8(digits.left(30)));
        return std::nullopt;
    }
    return value;
}

QString hexAddress(int address) {
    return QString::number(address, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

QByteArray numberText(quint64 number) {
    return QByteArray::number(number) + '\n';
}

} // namespace

std::optional<SerialField> SerialField::parse(const QString& text, QString& error) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3) {
        error = QStringLiteral("--serial: \"%1\" is not ADDR:LEN:FORMAT").arg(text);
        return std::nullopt;
    }
    SerialField field;
    bool ok = false;
    const QString& a = parts[0];
    const qlonglong address =
        a.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? a.mid(2).toLongLong(&ok, 16) : a.toLongLong(&ok, 10);
    if (!ok || address < 0 || address > std::numeric_limits<int>::max() || a.startsWith(QLatin1Char('+'))) {
        error = QStringLiteral("--serial: the address \"%1\" is no number (decimal, or hex with 0x)").arg(a);
        return std::nullopt;
    }
    field.address = static_cast<int>(address);
    const QString format = parts[2].toLower();
    if (format == QLatin1String("le"))
        field.format = Format::LittleEndian;
    else if (format == QLatin1String("be"))
        field.format = Format::BigEndian;
    else if (format == QLatin1String("bcd"))
        field.format = Format::Bcd;
    else if (format == QLatin1String("ascii"))
        field.format = Format::Ascii;
    else {
        error = QStringLiteral("--serial: the format \"%1\" is none of le, be, bcd and ascii").arg(parts[2]);
        return std::nullopt;
    }
    const int length = parts[1].toInt(&ok, 10);
    if (!ok || length < 1 || length > maxLength(field.format) || parts[1].startsWith(QLatin1Char('+'))) {
        error = QStringLiteral("--serial: the length \"%1\" must be 1-%2 bytes for %3")
                    .arg(parts[1])
                    .arg(maxLength(field.format))
                    .arg(format);
        return std::nullopt;
    }
    field.length = length;
    return field;
}

std::optional<QByteArray> SerialField::bytes(quint64 number) const {
    QByteArray out(length, '\0');
    switch (format) {
    case Format::LittleEndian:
    case Format::BigEndian:
        for (int i = 0; i < length; ++i) {
            const int at = format == Format::LittleEndian ? i : length - 1 - i;
            out[at] = static_cast<char>(number & 0xFF);
            number >>= 8;
        }
        break;
    case Format::Bcd:
        for (int i = length - 1; i >= 0; --i) {
            const unsigned low = number % 10;
            number /= 10;
            const unsigned high = number % 10;
            number /= 10;
            out[i] = static_cast<char>((high << 4) | low);
        }
        break;
    case Format::Ascii:
        for (int i = length - 1; i >= 0; --i) {
            out[i] = static_cast<char>('0' + number % 10);
            number /= 10;
        }
        break;
    }
    if (number != 0) return std::nullopt; // digits or bytes left over: it does not fit
    return out;
}

QString SerialField::problemWith(const CodeBuffer& image, const std::vector<bool>& fill, int capacity) const {
    if (static_cast<qint64>(address) + length > capacity)
        return QStringLiteral("--serial: %1 bytes at %2H reach past the chip's %3 bytes")
            .arg(length)
            .arg(hexAddress(address))
            .arg(capacity);
    for (int i = address; i < address + length; ++i)
        if (static_cast<size_t>(i) < fill.size() && !fill[static_cast<size_t>(i)] &&
            i <= image.dataEnd())
            return QStringLiteral("--serial: the file's own data is at %1H, where the serial number would go")
                .arg(hexAddress(i));
    return {};
}

std::vector<bool> fillMask(const CodeBuffer& a, const CodeBuffer& b) {
    const size_t n = std::min(a.code().size(), b.code().size());
    std::vector<bool> fill(n);
    for (size_t i = 0; i < n; ++i)
        fill[i] = a.code()[i] != b.code()[i];
    // Past the data end both loads hold only fill, whatever the bytes.
    return fill;
}

bool placeSerial(CodeBuffer& image, const SerialField& field, const QByteArray& bytes) {
    if (static_cast<size_t>(field.address) + static_cast<size_t>(bytes.size()) > image.code().size()) return false;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        image.store(field.address + static_cast<int>(i), static_cast<quint8>(bytes[i]));
    const int last = field.address + static_cast<int>(bytes.size()) - 1;
    if (image.dataEnd() < last) image.setDataEnd(last);
    return true;
}

QString SerialCounter::create(quint64 start) const {
    return platform::createFileExclusively(path_, numberText(start));
}

std::optional<quint64> SerialCounter::peek(QString& error) const {
    QFile file;
    if (!platform::openRegularFile(file, path_, error)) return std::nullopt;
    return parseNumber(file.read(64), error);
}

std::optional<quint64> SerialCounter::take(QString& error) const {
    std::optional<quint64> taken;
    const QString failure = platform::changeFileLocked(
        path_, [&taken](const QByteArray& old, QString& why) -> std::optional<QByteArray> {
            taken = parseNumber(old, why);
            if (!taken) return std::nullopt;
            if (*taken == std::numeric_limits<quint64>::max()) {
                why = QStringLiteral("the numbers are used up");
                taken.reset();
                return std::nullopt;
            }
            return numberText(*taken + 1);
        });
    if (!failure.isEmpty()) {
        error = failure;
        return std::nullopt;
    }
    return taken;
}
