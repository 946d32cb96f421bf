#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// A settings file holds a few hundred bytes; anything near this size is damage, not settings.
inline constexpr qint64 settingsFileLimit = 1024 * 1024;

// The content of the settings file at path, or nothing when it is missing, unreadable, not a regular file
// (after following symbolic links: a FIFO, a device, a folder) or larger than limit. Never blocks on a FIFO
// and never reads more than limit + 1 bytes.
std::optional<QByteArray> readSettingsFile(const QString& path, qint64 limit = settingsFileLimit);

} // namespace platform
