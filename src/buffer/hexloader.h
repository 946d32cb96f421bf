#pragma once

#include "buffer/codebuffer.h"
#include "buffer/hexlinesource.h"

#include <QString>

// The format the Open command chose from the file name; kept between loads and used by the file watch's
// reloads.
enum class FileKind { None, Hex, Binary };

enum class LoadStatus {
    Loaded,     // the image fits the capacity
    DoesNotFit, // a data byte at or beyond the capacity, or a binary file longer than it
    Error,      // anything else: file missing or unreadable, a line that is not a record, no file kind
};

struct LoadResult {
    LoadStatus status = LoadStatus::Loaded;
    // What went wrong, for Error (the windows show their own fixed text; the command-line tool prints this).
    QString error;
    // Intel HEX: the number (from 1) of the first record line whose checksum is missing or does not match, 0
    // when every one matches. Such records are loaded all the same, as they always were.
    int badChecksumLine = 0;

    bool loaded() const { return status == LoadStatus::Loaded; }
};

// Loads a code file into buffer: re-creates the code buffer filled with the fill byte, stores the file's
// bytes at their addresses and sets data end.
//
// Intel HEX: the code buffer gets exactly capacity bytes and data end 0 before the file is opened. Records 00
// (data), 01 (end of file: nothing after it is read), 02 (segment base) and 04 (upper linear address) are
// used, every other type is skipped; checksums are not enforced (the first line with a wrong one is noted). Data end is the highest address any data
// record reaches, counted before the size check. A failure keeps what was stored before it.
//
// Binary: the file is opened first (so a file that cannot be opened leaves the buffer as it was); the code
// buffer gets capacity + 1 bytes, the file's first capacity + 1 bytes go to address 0, data end is their
// count - 1. An empty file loads as no data (data end 0).
//
// FileKind::None is an Error and touches nothing. Every store is bounded by the code buffer; data end after
// DoesNotFit can lie beyond the capacity (callers bound their block loops by the buffer).
LoadResult loadImage(CodeBuffer& buffer, const QString& fileName, int capacity, FileKind kind);

// loadImage for content already in memory (standard input): the same rules, with data in place of the file.
LoadResult loadImageData(CodeBuffer& buffer, const QByteArray& data, int capacity, FileKind kind);

// The Intel HEX part of loadImage, reading its lines from source: resets the code buffer (capacity bytes of
// fill) and data end, then reads the records.
LoadResult loadHex(CodeBuffer& buffer, int capacity, HexLineSource& source);
