#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The two forms the hex view can be saved in.
enum class SaveFormat { Hex, Binary };

// A file's whole content built from the hex view's lines, or the reason it cannot be built. Every line is
// checked before anything is written, so a bad line never leaves half a file behind.
struct WriterOutput {
    QByteArray bytes;
    QString error; // empty on success; names the first bad line otherwise

    bool ok() const { return error.isEmpty(); }
};

// Intel HEX: one type 00 record per line, then ":00000001FF", each followed by CR LF. Blanks (any character
// at or below the space) are ignored in a line and blank lines are skipped. A record takes the four low
// address digits and the data digits as typed (so lowercase stays lowercase), with an upper-case count and
// checksum; it carries as many bytes as the line has digit pairs. Refused: characters that are not hex
// digits, fewer than six address digits, an odd number of data digits, more than 255 bytes, and data at or
// beyond address 10000H (no extended address records are written, so such bytes would land at the wrong
// address).
WriterOutput hexFileText(const QStringList& lines);

// Binary: each line is six address digits and exactly sixteen bytes. The image is resized to address + 16 for
// every line in order (growth is 00; a line with a lower address than the one before drops the bytes beyond
// it) and the line's bytes go to address .. address + 15. Refused: characters that are not hex digits and
// lines with any other number of digits. Blank lines are skipped.
WriterOutput binaryImage(const QStringList& lines);

// Writes the lines in format to exactly path as platform::writeFileContent does (an existing file is replaced
// atomically, links are written through, special files are never replaced). Returns an empty text on success,
// else the message to show: the bad line or the file error's own text.
QString writeLines(const QStringList& lines, const QString& path, SaveFormat format);
