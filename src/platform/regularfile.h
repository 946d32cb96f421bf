#pragma once

#include <QString>

namespace platform {

// Why path cannot be read as an ordinary file: empty when it is a regular file (after following symbolic
// links), else the reason in the system's words ("No such file or directory", "Permission denied") or "Not a
// regular file" for a FIFO, a device or a folder.
QString regularFileProblem(const QString& path);

} // namespace platform
