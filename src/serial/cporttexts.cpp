#include "serial/cporttexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <array>
#include <cstring>
#include <mutex>

namespace {

constexpr std::array<const char*, 23> sourceTexts = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

struct Texts {
    std::mutex mutex;
    bool loaded = false;
    QHash<QByteArray, QString> catalogue;
    std::array<QString, 23> errors;
};

Texts& texts() {
    static Texts t;
    return t;
}

bool readWord(const QByteArray& data, qsizetype offset, bool swapped, quint32& out) {
    if (offset < 0 || offset + 4 > data.size()) return false;
    quint32 v = 0;
    std::memcpy(&v, data.constData() + offset, 4);
    out = swapped ? __builtin_bswap32(v) : v;
    return true;
}

QStringList languages() {
    QString lang = qEnvironmentVariable("LANG");
    if (lang.isEmpty()) lang = QLocale::system().name();
    lang = lang.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    QStringList result;
    if (lang.isEmpty() || lang == QLatin1String("C") || lang == QLatin1String("POSIX")) return result;
    result << lang;
    const QString base = lang.section(QLatin1Char('_'), 0, 0);
    if (base != lang) result << base;
    return result;
}

void loadLocked(Texts& t, const QString& folder) {
    t.catalogue.clear();
    QString dir = folder;
    if (dir.isEmpty()) dir = DefaultCatalogueFolder(QCoreApplication::applicationDirPath());
    for (const QString& lang : languages()) {
        QFile file(dir + QLatin1Char('/') + lang + QLatin1String("/LC_MESSAGES/cport.mo"));
        if (!file.open(QIODevice::ReadOnly)) continue;
        t.catalogue = ParseMoCatalogue(file.readAll());
        break;
    }
    for (std::size_t i = 0; i < sourceTexts.size(); ++i) {
        const auto found = t.catalogue.constFind(QByteArray(sourceTexts[i]));
        t.errors[i] = found != t.catalogue.constEnd() ? *found : QString::fromUtf8(sourceTexts[i]);
    }
    t.loaded = true;
}

Texts& loadedTexts() {
    Texts& t = texts();
    std::lock_guard lock(t.mutex);
    if (!t.loaded) loadLocked(t, {});
    return t;
}

} // namespace

QHash<QByteArray, QString> ParseMoCatalogue(const QByteArray& data) {
    QHash<QByteArray, QString> table;
    quint32 magic = 0;
    if (!readWord(data, 0, false, magic)) return table;
    bool swapped = false;
    if (magic == 0xde120495u)
        swapped = true;
    else if (magic != 0x950412deu)
        return table;
    quint32 count = 0, originals = 0, translations = 0;
    if (!readWord(data, 8, swapped, count) || !readWord(data, 12, swapped, originals) ||
        !readWord(data, 16, swapped, translations))
        return table;
    auto stringAt = [&](quint32 tableOffset, quint32 index, QByteArray& out) {
        quint32 length = 0, offset = 0;
        const qsizetype entry = qsizetype(tableOffset) + qsizetype(index) * 8;
        if (!readWord(data, entry, swapped, length) || !readWord(data, entry + 4, swapped, offset))
            return false;
        if (qsizetype(offset) + qsizetype(length) > data.size()) return false;
        out = data.mid(offset, length);
        return true;
    };
    for (quint32 i = 0; i < count; ++i) {
        QByteArray original, translation;
        if (!stringAt(originals, i, original) || !stringAt(translations, i, translation)) break;
        if (original.isEmpty()) continue; // the header entry
        // Plural forms keep their first form; contexts are not used by this domain.
        const qsizetype nul = translation.indexOf('\0');
        if (nul >= 0) translation.truncate(nul);
        const qsizetype onul = original.indexOf('\0');
        if (onul >= 0) original.truncate(onul);
        if (!translation.isEmpty()) table.insert(original, QString::fromUtf8(translation));
    }
    return table;
}

QString DefaultCatalogueFolder(const QString& executableFolder) {
    const QDir folder(executableFolder);
    if (folder.exists(QStringLiteral("locale"))) return folder.filePath(QStringLiteral("locale"));
    const QString installed = folder.filePath(QStringLiteral("../share/chipwright/locale"));
    if (QDir(installed).exists()) return QDir::cleanPath(installed);
    return folder.filePath(QStringLiteral("locale"));
}

void LoadSerialLibraryTexts(const QString& localeFolder) {
    Texts& t = texts();
    std::lock_guard lock(t.mutex);
    loadLocked(t, localeFolder);
}

QString CportText(const char* english) {
    Texts& t = loadedTexts();
    std::lock_guard lock(t.mutex);
    const auto found = t.catalogue.constFind(QByteArray(english));
    return found != t.catalogue.constEnd() ? *found : QString::fromUtf8(english);
}

QString PortErrorText(int code) {
    if (code < 1 || code > int(sourceTexts.size())) return {};
    Texts& t = loadedTexts();
    std::lock_guard lock(t.mutex);
    return t.errors[std::size_t(code - 1)];
}

const char* PortErrorSourceText(int code) {
    if (code < 1 || code > int(sourceTexts.size())) return "";
    return sourceTexts[std::size_t(code - 1)];
}
