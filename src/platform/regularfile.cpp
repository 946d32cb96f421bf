#include "platform/regularfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace platform {

QString regularFileProblem(const QString& path) {
    struct stat st {};
    if (path.isEmpty()) return QString::fromLocal8Bit(std::strerror(ENOENT));
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return QStringLiteral("Not a regular file");
    return {};
}

} // namespace platform
