#pragma once

#include "buffer/hexloader.h"
#include "buffer/hexwriter.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <optional>

// The image through standard input and output: "-" in place of a file name.

// The name that stands for standard input or output.
bool isStandardStream(const QString& name);

// Reads in to its end, at most maxImageInput bytes (more is an error: no image comes near it). Empty error on
// success.
inline constexpr qsizetype maxImageInput = 64 * 1024 * 1024;
QByteArray readWholeStream(std::FILE* in, QString& error);

// The kind of image data read from a stream: the given format, else Intel HEX when the data starts with ':'
// and binary otherwise.
FileKind streamKind(const QByteArray& data, std::optional<SaveFormat> format);

// Writes bytes to out and flushes it; the system's reason on failure, else empty.
QString writeWholeStream(std::FILE* out, const QByteArray& bytes);
