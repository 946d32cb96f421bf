#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace platform {

// Reads the file at path and replaces it with what change makes of its content, all under an exclusive lock
// on the file that every caller waits for, in this process, in others, and on other machines sharing the
// file (a network share with locking). The new content is written as writeFileContent writes (a temporary
// file, flushed to the disk, renamed over the old one), so after a crash or a power cut the file holds the
// old content or the new, never a mix, and once this returns the new content is on the disk. change returns
// the new content, or nothing with its reason in error (the file then stays as it is). Returns an empty text
// on success, else the reason.
QString changeFileLocked(const QString& path,
                         const std::function<std::optional<QByteArray>(const QByteArray& old, QString& error)>&
                             change);

// Creates the file at path holding content, flushed to the disk; fails ("File exists") when there is one.
QString createFileExclusively(const QString& path, const QByteArray& content);

} // namespace platform
