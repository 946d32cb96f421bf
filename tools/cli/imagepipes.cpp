#include "imagepipes.h"

#include <cerrno>
#include <cstring>

bool isStandardStream(const QString& name) {
    return name == QLatin1String("-");
}

QByteArray readWholeStream(std::FILE* in, QString& error) {
    QByteArray data;
    char piece[65536];
    for (;;) {
        const size_t count = std::fread(piece, 1, sizeof piece, in);
        data.append(piece, static_cast<qsizetype>(count));
        if (data.size() > maxImageInput) {
            error = QStringLiteral("more than %1 MiB; no image is that large").arg(maxImageInput >> 20);
            return {};
        }
        if (count < sizeof piece) break;
    }
    if (std::ferror(in)) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    return data;
}

FileKind streamKind(const QByteArray& data, std::optional<SaveFormat> format) {
    if (format) return *format == SaveFormat::Hex ? FileKind::Hex : FileKind::Binary;
    return data.startsWith(':') ? FileKind::Hex : FileKind::Binary;
}

QString writeWholeStream(std::FILE* out, const QByteArray& bytes) {
    errno = 0;
    const size_t written = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out);
    if (std::fflush(out) != 0 || written != static_cast<size_t>(bytes.size()))
        return QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
    return {};
}
