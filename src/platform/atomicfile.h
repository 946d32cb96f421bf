#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Writes data as the whole content of the file at path, the one way this program writes a file.
//
// - A symbolic link is followed (to any depth) and its final target is written; the link stays a link.
// - A regular file, or a new one, is replaced atomically: the bytes go to a temporary file in the same
// folder,
//   are flushed to disk, and the temporary file is renamed over the old one, so a reader sees either the old
//   file or the whole new one. A replaced file keeps its permission bits (and its owner where allowed); a new
//   file gets 0666 less the umask.
// - When the folder refuses the temporary file but the file itself may be written, the file is written in
//   place (its space reserved first, so a full disk leaves it as it was).
// - A FIFO or a character device is written into directly, never replaced; a FIFO that no process reads from
//   is refused rather than waited for. Any other kind of file (a folder, a block device, a socket) is
//   refused.
//
// Every write error (a full disk, a file size limit, a failed flush) is caught before the rename, and the old
// file is left as it was. (The first call sets SIGXFSZ to be ignored, so that a file size limit gives an
// error instead of ending the process.) Returns an empty text on success, else the cause in the system's
// words ("No space left on device").
QString writeFileContent(const QString& path, const QByteArray& data);

// writeFileContent after creating missing parent folders; true on success. For the program's own files.
bool replaceFileAtomically(const QString& path, const QByteArray& data);

// Makes a file size limit (ulimit -f) an error of the write that passes it (EFBIG, "File too large") rather
// than a signal that ends the process. Every writer of files calls it; calling it again does nothing.
void ignoreFileSizeSignal();

// Test hook: called after the temporary file has been written and before it is renamed. Lets a test stop the
// process at the worst moment to prove that the old file survives.
using AtomicWriteHook = void (*)(const QString& temporaryPath);
void setAtomicWriteHook(AtomicWriteHook hook);

} // namespace platform
