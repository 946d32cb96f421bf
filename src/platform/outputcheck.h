#pragma once

#include <QString>

namespace platform {

// Whether writeFileContent could write path, asked before any work is done whose result would go there:
// empty when it could, else the reason in the system's words ("Permission denied", "Read-only file system",
// "Is a directory", "No such file or directory" for a missing folder). Symbolic links are followed as
// writeFileContent follows them. The folder is tried for real (a file made and removed at once, unnamed where
// the file system allows); an existing regular file is opened for writing and closed, never changed; a FIFO or a
// device is left to the write. (A disk that
// fills up later can still fail the write itself.)
QString outputProblem(const QString& path);

} // namespace platform
