#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

// Hands out the lines of an Intel HEX file one at a time, without their line ends, so the record reader can
// be fed from a file, from memory or straight from a test.
class HexLineSource {
public:
    virtual ~HexLineSource() = default;
    // Puts the next line into line and returns true; false at the end of the input or when reading failed
    // (then error() says why).
    virtual bool nextLine(QByteArray& line) = 0;
    // Empty unless the input could not be read to its end.
    virtual QString error() const { return {}; }
};

// Lines given as a list (tests).
class ListLineSource : public HexLineSource {
public:
    explicit ListLineSource(QList<QByteArray> lines) : lines_(std::move(lines)) {}
    bool nextLine(QByteArray& line) override;

private:
    QList<QByteArray> lines_;
    qsizetype next_ = 0;
};

// Splits a byte stream into lines. A line ends at LF, at CR LF or at a lone CR (files written with CR-only
// line ends load every record). Only the first maxLineLength characters of a line are kept: no record needs
// more, and a file without line ends cannot make memory grow without bound.
class ChunkedLineSource : public HexLineSource {
public:
    static constexpr qsizetype maxLineLength = 1024;
    bool nextLine(QByteArray& line) override;

protected:
    // The next piece of the stream; empty at its end or on a read failure.
    virtual QByteArray readChunk() = 0;

private:
    QByteArray chunk_;
    qsizetype pos_ = 0;
    bool ended_ = false;
    bool skipLf_ = false;
};

// The whole input in memory (fuzzing, benchmarks).
class BytesLineSource : public ChunkedLineSource {
public:
    explicit BytesLineSource(QByteArray bytes) : bytes_(std::move(bytes)) {}

protected:
    QByteArray readChunk() override { return std::exchange(bytes_, QByteArray()); }

private:
    QByteArray bytes_;
};

// An open file, read in pieces.
class FileLineSource : public ChunkedLineSource {
public:
    explicit FileLineSource(QFile& file) : file_(file) {}
    QString error() const override { return error_; }

protected:
    QByteArray readChunk() override;

private:
    QFile& file_;
    QString error_;
};
