#include "buffer/hexloader.h"

#include "platform/regularfile.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <limits>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The number in the hex digits line[from .. from+digits-1] (0-based), or -1 when the line is too short or
// holds another character there.
qint64 hexField(const QByteArray& line, qsizetype from, int digits) {
    if (line.size() < from + digits) return -1;
    qint64 value = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = hexValue(line[from + i]);
        if (v < 0) return -1;
        value = value * 16 + v;
    }
    return value;
}

// The record type is two decimal digits.
int decimalType(const QByteArray& line) {
    if (line.size() < 9) return -1;
    const char hi = line[7];
    const char lo = line[8];
    if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return -1;
    return (hi - '0') * 10 + (lo - '0');
}

bool blankLine(const QByteArray& line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

LoadResult lineError(int lineNumber, const char* what) {
    return {LoadStatus::Error, QStringLiteral("line %1: %2").arg(lineNumber).arg(QLatin1String(what))};
}

void raiseDataEnd(CodeBuffer& buffer, qint64 last) {
    if (last > buffer.dataEnd())
        buffer.setDataEnd(static_cast<int>(std::min<qint64>(last, std::numeric_limits<int>::max())));
}

void resetForHex(CodeBuffer& buffer, int capacity) {
    buffer.setDataEnd(0);
    buffer.recreate(capacity);
}

// Only regular files are read: a FIFO would block the open, and a device such as /dev/zero never ends a line.
bool openRegular(QFile& file, const QString& fileName, LoadResult& failure) {
    QString problem;
    if (platform::openRegularFile(file, fileName, problem)) return true;
    failure = {LoadStatus::Error, problem};
    return false;
}

// Whether the record's bytes, its checksum included, add up to 0 (mod 256).
bool checksumMatches(const QByteArray& line) {
    const qint64 count = hexField(line, 1, 2);
    if (count < 0) return false;
    int sum = 0;
    for (qint64 i = 0; i < count + 5; ++i) {
        const qint64 byte = hexField(line, 1 + 2 * i, 2);
        if (byte < 0) return false;
        sum += static_cast<int>(byte);
    }
    return (sum & 0xFF) == 0;
}

LoadResult readRecordLines(CodeBuffer& buffer, int capacity, HexLineSource& source, int& badChecksumLine);

LoadResult readRecords(CodeBuffer& buffer, int capacity, HexLineSource& source) {
    int badChecksumLine = 0;
    LoadResult result = readRecordLines(buffer, capacity, source, badChecksumLine);
    result.badChecksumLine = badChecksumLine;
    return result;
}

LoadResult readRecordLines(CodeBuffer& buffer, int capacity, HexLineSource& source, int& badChecksumLine) {
    qint64 linearBase = 0;
    qint64 segmentBase = 0;
    std::array<quint8, 255> data{};
    QByteArray line;
    int lineNumber = 0;
    while (source.nextLine(line)) {
        ++lineNumber;
        if (blankLine(line)) continue;
        // Fields by position: mark at 0 (not checked), count 1-2, address 3-6, type 7-8, data from 9.
        const int type = decimalType(line);
        if (type < 0) return lineError(lineNumber, "the record type is not a number");
        if (badChecksumLine == 0 && !checksumMatches(line)) badChecksumLine = lineNumber;
        const qint64 count = hexField(line, 1, 2);
        const qint64 address = hexField(line, 3, 4);
        if (count < 0 || address < 0)
            return lineError(lineNumber, "the byte count or address is not hexadecimal");
        if (type == 0) {
            for (qint64 j = 0; j < count; ++j) {
                const qint64 byte = hexField(line, 9 + 2 * j, 2);
                if (byte < 0) return lineError(lineNumber, "the data bytes are short or not hexadecimal");
                data[static_cast<size_t>(j)] = static_cast<quint8>(byte);
            }
            const qint64 start = linearBase * 65536 + segmentBase + address;
            // A record without bytes covers no address, so it cannot move data end (or push it past the
            // chip).
            if (count > 0) raiseDataEnd(buffer, start + count - 1);
            for (qint64 j = 0; j < count; ++j) {
                if (start + j >= capacity) return {LoadStatus::DoesNotFit, {}};
                buffer.store(static_cast<int>(start + j), data[static_cast<size_t>(j)]);
            }
        } else if (type == 1) {
            return {};
        } else if (type == 2 || type == 4) {
            const qint64 value = hexField(line, 9, 4);
            if (value < 0) return lineError(lineNumber, "the address record is short or not hexadecimal");
            if (type == 2)
                segmentBase = 16 * value;
            else
                linearBase = value;
        }
    }
    if (!source.error().isEmpty()) return {LoadStatus::Error, source.error()};
    return {};
}

// bytes holds at most capacity + 1 bytes of a binary image.
LoadResult storeBinary(CodeBuffer& buffer, const QByteArray& bytes, int capacity) {
    buffer.recreate(std::max(capacity, 0) + 1);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        buffer.store(static_cast<int>(i), static_cast<quint8>(bytes[i]));
    // An empty file holds no data: it counts as no file loaded, not as data end -1.
    buffer.setDataEnd(bytes.isEmpty() ? 0 : static_cast<int>(bytes.size() - 1));
    if (bytes.size() > capacity) return {LoadStatus::DoesNotFit, {}};
    return {};
}

LoadResult loadBinary(CodeBuffer& buffer, const QString& fileName, int capacity) {
    QFile file;
    LoadResult failure;
    if (!openRegular(file, fileName, failure)) return failure;
    const qint64 limit = static_cast<qint64>(std::max(capacity, 0)) + 1;
    QByteArray bytes;
    while (bytes.size() < limit) {
        const QByteArray piece = file.read(limit - bytes.size());
        if (file.error() != QFileDevice::NoError) return {LoadStatus::Error, file.errorString()};
        if (piece.isEmpty()) break;
        bytes += piece;
    }
    return storeBinary(buffer, bytes, capacity);
}

} // namespace

LoadResult loadHex(CodeBuffer& buffer, int capacity, HexLineSource& source) {
    resetForHex(buffer, capacity);
    return readRecords(buffer, capacity, source);
}

LoadResult loadImage(CodeBuffer& buffer, const QString& fileName, int capacity, FileKind kind) {
    switch (kind) {
    case FileKind::Hex: {
        resetForHex(buffer, capacity);
        QFile file;
        LoadResult failure;
        if (!openRegular(file, fileName, failure)) return failure;
        FileLineSource source(file);
        return readRecords(buffer, capacity, source);
    }
    case FileKind::Binary:
        return loadBinary(buffer, fileName, capacity);
    case FileKind::None:
        break;
    }
    return {LoadStatus::Error, QStringLiteral("the file name ends in neither .hex nor .bin")};
}

LoadResult loadImageData(CodeBuffer& buffer, const QByteArray& data, int capacity, FileKind kind) {
    switch (kind) {
    case FileKind::Hex: {
        BytesLineSource source(data);
        return loadHex(buffer, capacity, source);
    }
    case FileKind::Binary:
        return storeBinary(buffer, data.left(static_cast<qsizetype>(std::max(capacity, 0)) + 1), capacity);
    case FileKind::None:
        break;
    }
    return {LoadStatus::Error, QStringLiteral("no file kind given")};
}
