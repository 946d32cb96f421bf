#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <span>

// One line of the hex view: six upper-case hex address digits, two blanks, bytes 0-7 as hex pairs separated by
// single blanks, two blanks, bytes 8-15 likewise. 56 characters, no character column.
QString dumpLine(int address, std::span<const quint8, 16> bytes);

// The dump of the first length bytes of data, one line per whole 16 bytes (a remainder is not shown). Never reads
// past data.
QStringList dumpLines(std::span<const quint8> data, int length);
