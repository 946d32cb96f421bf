#include "platform/settingsfile.h"

#include "platform/filenames.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::optional<QByteArray> readSettingsFile(const QString& path, qint64 limit) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. The type is checked on the
    // open descriptor, so a file swapped after a check cannot slip through.
    const int fd = ::open(fileNameBytes(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limit) {
        ::close(fd);
        return std::nullopt;
    }
    // One byte more than the file's size shows a file that grew meanwhile.
    QByteArray data(static_cast<qsizetype>(st.st_size) + 1, '\0');
    qsizetype filled = 0;
    while (filled < data.size()) {
        const ssize_t n = ::read(fd, data.data() + filled, static_cast<size_t>(data.size() - filled));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        filled += n;
    }
    ::close(fd);
    if (filled > st.st_size) return std::nullopt; // grew while being read: being written, take it as damaged
    data.truncate(filled);
    return data;
}

} // namespace platform
