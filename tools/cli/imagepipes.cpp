#include "imagepipes.h"

#include "outputstatus.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

bool isStandardStream(const QString& name) {
    return name == QLatin1String("-");
}

std::optional<int> streamDescriptor(const QString& name, int dash) {
    std::optional<int> fd;
    if (name == QLatin1String("-")) fd = dash;
    else if (name == QLatin1String("/dev/stdin")) fd = 0;
    else if (name == QLatin1String("/dev/stdout")) fd = 1;
    else if (name == QLatin1String("/dev/stderr")) fd = 2;
    else
        for (const QLatin1String folder : {QLatin1String("/dev/fd/"), QLatin1String("/proc/self/fd/")}) {
            if (!name.startsWith(folder)) continue;
            const QString digits = name.mid(folder.size());
            bool number = false;
            const int n = digits.toInt(&number);
            if (number && n >= 0 && digits.size() <= 9 && digits == QString::number(n)) fd = n;
        }
    if (!fd || ::fcntl(*fd, F_GETFD) < 0) return std::nullopt;
    return fd;
}

QByteArray readWholeDescriptor(int fd, QString& error) {
    QByteArray data;
    char piece[65536];
    for (;;) {
        const ssize_t count = ::read(fd, piece, sizeof piece);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            return {};
        }
        if (count == 0) return data;
        data.append(piece, static_cast<qsizetype>(count));
        if (data.size() > maxImageInput) {
            error = QStringLiteral("more than %1 MiB; no image is that large").arg(maxImageInput >> 20);
            return {};
        }
    }
}

QByteArray withoutByteOrderMark(const QByteArray& data) {
    return data.startsWith("\xEF\xBB\xBF") ? data.mid(3) : data;
}

std::optional<FileKind> streamKind(const QByteArray& data, std::optional<SaveFormat> format) {
    if (format) return *format == SaveFormat::Hex ? FileKind::Hex : FileKind::Binary;
    const QByteArray text = withoutByteOrderMark(data);
    for (const char c : text) {
        if (c == ':') return FileKind::Hex;
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
    }
    // Nothing at all stays what it always was: binary without data ("Please Open ... Firstly !").
    if (data.isEmpty()) return FileKind::Binary;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != '\f') || byte == 0x7F)
            return FileKind::Binary;
    }
    if (!text.isValidUtf8()) return FileKind::Binary;
    return std::nullopt;
}

QString writeWholeStream(std::FILE* out, const QByteArray& bytes) {
    errno = 0;
    const size_t written = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out);
    if (std::fflush(out) != 0 || written != static_cast<size_t>(bytes.size())) {
        const int error = errno ? errno : EIO;
        noteOutputFailure(out, error, true);
        return QString::fromLocal8Bit(std::strerror(error));
    }
    return {};
}

QString writeWholeDescriptor(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EIO));
        data += n;
        left -= n;
    }
    return {};
}
