#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Replaces the file at path with data so that a reader sees either the old file or the whole new one:
// the bytes go to a temporary file in the same folder, are flushed to disk, and the temporary file is renamed
// over the old one. Creates missing parent folders. Returns false (leaving the old file untouched) on any
// failure.
bool replaceFileAtomically(const QString& path, const QByteArray& data);

// Test hook: called after the temporary file has been written and before it is renamed. Lets a test stop the
// process at the worst moment to prove that the old file survives.
using AtomicWriteHook = void (*)(const QString& temporaryPath);
void setAtomicWriteHook(AtomicWriteHook hook);

} // namespace platform
