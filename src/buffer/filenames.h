#pragma once

#include "buffer/hexloader.h"
#include "buffer/hexwriter.h"

#include <QString>

#include <optional>

// What a file name's ending says about its content, the same for the window and the command-line tool:
// ".hex", ".ihx" (sdcc) and ".ihex" in any letter case are Intel HEX, ".bin" in any letter case is binary.
// Any other ending says nothing.
std::optional<FileKind> fileKindOfName(const QString& name);
std::optional<SaveFormat> saveFormatOfName(const QString& name);

// The Open dialog's filter: shown as "OpenFile(*.hex;*.bin)" (the dialog hides the pattern list, see
// openDialogOptions), it lets every ending above through in every letter case.
QString openDialogFilter();
