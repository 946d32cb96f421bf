#pragma once

#include "buffer/hexloader.h"
#include "buffer/hexwriter.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <optional>

// The image through standard input and output and the shell's other streams: "-", /dev/stdin, /dev/stdout,
// /dev/fd/N (what "<(...)" and ">(...)" give) and /proc/self/fd/N in place of a file name.

// The name that stands for standard input or output.
bool isStandardStream(const QString& name);

// The open descriptor a name stands for: "-" is dash (0 for input, 1 for output), /dev/stdin 0, /dev/stdout
// 1, /dev/stderr 2, /dev/fd/N and /proc/self/fd/N N. Nothing for other names, or when that descriptor is not
// open.
std::optional<int> streamDescriptor(const QString& name, int dash);

// Reads descriptor fd (which stays open) to its end, at most maxImageInput bytes (more is an error: no image
// comes near it). Empty error on success.
inline constexpr qsizetype maxImageInput = 64 * 1024 * 1024;
QByteArray readWholeDescriptor(int fd, QString& error);

// The UTF-8 byte-order mark that some editors put before a text.
QByteArray withoutByteOrderMark(const QByteArray& data);

// The kind of image data read from a stream: the given format; else Intel HEX when its first character after
// a byte-order mark and blank lines is ':'; else binary when it is not text (a byte that no text holds: a
// control character, or bytes that are not UTF-8); nothing for other text, which is neither.
std::optional<FileKind> streamKind(const QByteArray& data, std::optional<SaveFormat> format);

// Writes bytes to out and flushes it; the system's reason on failure, else empty.
QString writeWholeStream(std::FILE* out, const QByteArray& bytes);
// The same to descriptor fd, which stays open.
QString writeWholeDescriptor(int fd, const QByteArray& bytes);
