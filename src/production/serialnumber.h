#pragma once

#include "buffer/codebuffer.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Where and how each chip gets its own serial number: LEN bytes at ADDR of the image, written before the chip
// is programmed.
struct SerialField {
    enum class Format { LittleEndian, BigEndian, Bcd, Ascii };
    int address = 0;
    int length = 0;
    Format format = Format::LittleEndian;

    // "ADDR:LEN:FORMAT": ADDR decimal or 0x-hex, LEN 1-8 for le and be, 1-10 for bcd, 1-20 for ascii; FORMAT
    // le, be, bcd or ascii (any case). Nothing, with the reason in error, for anything else.
    static std::optional<SerialField> parse(const QString& text, QString& error);

    // The number as the field's bytes: binary (least or most significant byte first), packed BCD (two
    // digits a byte, the most significant first) or ASCII decimal digits, zero-padded to the length. Nothing
    // when the number does not fit in the length.
    std::optional<QByteArray> bytes(quint64 number) const;

    // Why the field cannot go into this image for a chip of capacity bytes: outside the chip, or over bytes
    // of the file's own data (fill says which bytes are only fill). Empty when it can.
    QString problemWith(const CodeBuffer& image, const std::vector<bool>& fill, int capacity) const;
};

// Which bytes of a loaded image are only fill: the image loaded twice, with fill bytes 00 and FF; a byte that
// differs between the two came from no record of the file.
std::vector<bool> fillMask(const CodeBuffer& withFill00, const CodeBuffer& withFillFF);

// Writes the number's bytes into image at the field, and makes the image reach that far, so that the run
// programs them: false when they do not fit.
bool placeSerial(CodeBuffer& image, const SerialField& field, const QByteArray& bytes);

// The counter of the next serial number: a small text file ("1042\n") that several stations may share. The
// number is taken under an exclusive lock on the file, and the file is replaced atomically and synced before
// the number is handed out, so no number is ever handed out twice: not to two ports, not to two stations, not
// after a crash. A number that was taken is spent, whatever becomes of the chip.
class SerialCounter {
public:
    explicit SerialCounter(QString path) : path_(std::move(path)) {}
    const QString& path() const { return path_; }

    // Creates the file with start as the next number; fails when it exists (a counter is never reset).
    QString create(quint64 start) const;
    // The next number without taking it, for the checks before any port is touched.
    std::optional<quint64> peek(QString& error) const;
    // Takes the next number.
    std::optional<quint64> take(QString& error) const;

private:
    QString path_;
};
