#include "buffer/filenames.h"

namespace {

constexpr const char* hexEndings[] = {".hex", ".ihx", ".ihex"};
constexpr const char* binEndings[] = {".bin"};

template <size_t N> bool endsInAny(const QString& name, const char* const (&endings)[N]) {
    for (const char* ending : endings)
        if (name.endsWith(QLatin1String(ending), Qt::CaseInsensitive)) return true;
    return false;
}

// "*.[hH][eE][xX]": the dialog matches patterns case-sensitively on Linux.
QString anyCasePattern(const char* ending) {
    QString pattern = QStringLiteral("*");
    for (const QChar c : QLatin1String(ending))
        pattern += c.isLetter() ? QStringLiteral("[%1%2]").arg(c.toLower(), c.toUpper()) : QString(c);
    return pattern;
}

} // namespace

std::optional<FileKind> fileKindOfName(const QString& name) {
    if (endsInAny(name, hexEndings)) return FileKind::Hex;
    if (endsInAny(name, binEndings)) return FileKind::Binary;
    return std::nullopt;
}

std::optional<SaveFormat> saveFormatOfName(const QString& name) {
    if (endsInAny(name, hexEndings)) return SaveFormat::Hex;
    if (endsInAny(name, binEndings)) return SaveFormat::Binary;
    return std::nullopt;
}

QString openDialogFilter() {
    QStringList patterns;
    for (const char* ending : hexEndings)
        patterns << anyCasePattern(ending);
    for (const char* ending : binEndings)
        patterns << anyCasePattern(ending);
    // The name the dialog shows (with its details hidden), then the patterns it filters by.
    return QStringLiteral("OpenFile(*.hex;*.bin) (%1)").arg(patterns.join(QLatin1Char(' ')));
}
