#pragma once

#include <QFile>
#include <QString>

namespace platform {

// Opens path for reading when it is a regular file (after following symbolic links): a descriptor for
// QFile::open(int, ...) to take over, or -1 with problem set to the reason in the system's words ("No such
// file or directory", "Permission denied") or "Not a regular file" for a FIFO, a device or a folder. A FIFO
// never blocks the open. The name reaches the system byte for byte (fileNameBytes).
int openRegularFile(const QString& path, QString& problem);

// Closes a descriptor from openRegularFile that nobody took over.
void closeDescriptor(int fd);

// openRegularFile, with file taking the descriptor over: false with problem set when it cannot.
bool openRegularFile(QFile& file, const QString& path, QString& problem);

} // namespace platform
