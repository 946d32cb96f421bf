#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// A Linux file name is a string of bytes, not always UTF-8. Qt's own conversion (QFile::encodeName and
// decodeName) replaces every byte that is not part of valid UTF-8, so such a name can be shown but never
// opened again. These two keep every byte: valid UTF-8 is decoded as usual, and each other byte b becomes the
// lone surrogate U+DC00 + b, which fileNameBytes turns back into b. Every file name that reaches the system
// goes through fileNameBytes.
QString fileNameFromBytes(const QByteArray& bytes);
QByteArray fileNameBytes(const QString& name);

} // namespace platform
