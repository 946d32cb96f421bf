#pragma once

#include <QByteArray>
#include <QString>

// text as a JSON string, quoted and escaped: '"', '\' and control characters escaped, everything else as
// UTF-8. A file name whose bytes are not UTF-8 reaches here with each such byte b as the lone surrogate
// U+DC00 + b (platform::fileNameFromBytes); it is written as the escape \udcXX (XX: b in lower-case hex), the
// convention Python's "surrogateescape" uses, so every byte of the name can be recovered. Valid UTF-8 never
// gives a lone surrogate, so the escape cannot be mistaken for a character of a name.
QByteArray jsonString(const QString& text);
