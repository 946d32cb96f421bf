#include "platform/registry.h"

#include "platform/atomicfile.h"
#include "platform/filenames.h"
#include "platform/settingsfile.h"

#include <QDir>
#include <QHash>

namespace platform {

namespace {

const QLatin1String valuesFileName("values.reg");

bool readOnlyStore = false;

// Finds the entry of folder named component ignoring case, or gives the component itself.
QString existingSpelling(const QDir& folder, const QString& component) {
    const QStringList entries = folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& entry : entries)
        if (entry.compare(component, Qt::CaseInsensitive) == 0) return entry;
    return component;
}

QString escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\\' || c == u'"') out += u'\\';
        // Line breaks would split the line; keep them as escapes.
        if (c == u'\n') {
            out += QLatin1String("\\n");
            continue;
        }
        if (c == u'\r') {
            out += QLatin1String("\\r");
            continue;
        }
        out += c;
    }
    return out;
}

// Reads a quoted string starting at pos (which must hold '"'); advances pos past the closing quote.
std::optional<QString> quoted(const QString& line, qsizetype& pos) {
    if (pos >= line.size() || line[pos] != u'"') return std::nullopt;
    QString out;
    for (++pos; pos < line.size(); ++pos) {
        const QChar c = line[pos];
        if (c == u'"') {
            ++pos;
            return out;
        }
        if (c == u'\\') {
            if (++pos >= line.size()) return std::nullopt;
            const QChar e = line[pos];
            out += e == u'n' ? QChar(u'\n') : e == u'r' ? QChar(u'\r') : e;
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

std::optional<RegistryValue> parseLine(const QString& line) {
    qsizetype pos = 0;
    RegistryValue value;
    auto name = quoted(line, pos);
    if (!name || name->isEmpty() || pos >= line.size() || line[pos] != u'=') return std::nullopt;
    value.name = *name;
    ++pos;
    if (pos < line.size() && line[pos] == u'"') {
        auto text = quoted(line, pos);
        if (!text || !line.mid(pos).trimmed().isEmpty()) return std::nullopt;
        value.text = *text;
        return value;
    }
    const QString rest = line.mid(pos).trimmed();
    if (!rest.startsWith(QLatin1String("dword:"))) return std::nullopt;
    const QString digits = rest.mid(6);
    if (digits.size() != 8) return std::nullopt;
    bool ok = false;
    const quint32 number = digits.toUInt(&ok, 16);
    if (!ok) return std::nullopt;
    value.type = RegistryValue::Type::Dword;
    value.number = number;
    return value;
}

} // namespace

QString registryRoot() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) base = QDir::homePath() + QLatin1String("/.config");
    return base + QLatin1String("/chipwright/registry");
}

QString hiveFolderName(RegistryHive hive) {
    return hive == RegistryHive::LocalMachine ? QStringLiteral("HKEY_LOCAL_MACHINE")
                                              : QStringLiteral("HKEY_CURRENT_USER");
}

QStringList registryPathComponents(const QString& path) {
    QString unified = path;
    unified.replace(u'/', u'\\');
    return unified.split(u'\\', Qt::SkipEmptyParts);
}

RegistryKey::RegistryKey(QString folder) : folder_(std::move(folder)) {}

void setRegistryReadOnly(bool readOnly) {
    readOnlyStore = readOnly;
}

std::optional<RegistryKey> RegistryKey::open(RegistryHive hive, const QString& path, bool create) {
    create = create && !readOnlyStore;
    QDir dir(registryRoot() + u'/' + hiveFolderName(hive));
    if (!dir.exists() && !(create && QDir().mkpath(dir.path()))) return std::nullopt;
    for (const QString& component : registryPathComponents(path)) {
        // "." and ".." would leave the key's folder; take them as ordinary names.
        QString name = component == QLatin1String(".") || component == QLatin1String("..")
                           ? QString(component).replace(u'.', u'_')
                           : existingSpelling(dir, component);
        if (!dir.exists(name) && !(create && dir.mkdir(name))) return std::nullopt;
        if (!dir.cd(name)) return std::nullopt;
    }
    RegistryKey key(dir.absolutePath());
    // A values file that is not a regular file of sensible size reads as no values, like one that is missing.
    if (const std::optional<QByteArray> text = readSettingsFile(key.valuesFile())) key.values_ = parse(*text);
    return key;
}

QString RegistryKey::valuesFile() const { return folder_ + u'/' + valuesFileName; }

const RegistryValue* RegistryKey::value(const QString& name) const {
    for (const RegistryValue& v : values_)
        if (v.name.compare(name, Qt::CaseInsensitive) == 0) return &v;
    return nullptr;
}

std::optional<QString> RegistryKey::readString(const QString& name) const {
    const RegistryValue* v = value(name);
    if (!v || v->type != RegistryValue::Type::String) return std::nullopt;
    return v->text;
}

std::optional<quint32> RegistryKey::readDword(const QString& name) const {
    const RegistryValue* v = value(name);
    if (!v || v->type != RegistryValue::Type::Dword) return std::nullopt;
    return v->number;
}

QStringList RegistryKey::valueNames() const {
    QStringList names;
    for (const RegistryValue& v : values_) names << v.name;
    return names;
}

bool RegistryKey::writeString(const QString& name, const QString& text) {
    RegistryValue v;
    v.name = name;
    v.text = text;
    return store(std::move(v));
}

bool RegistryKey::writeDword(const QString& name, quint32 number) {
    RegistryValue v;
    v.name = name;
    v.type = RegistryValue::Type::Dword;
    v.number = number;
    return store(std::move(v));
}

bool RegistryKey::writeValues(const std::vector<RegistryValue>& values) {
    if (readOnlyStore) return false;
    std::vector<RegistryValue> next = values_;
    QHash<QString, size_t> index;
    for (size_t i = 0; i < next.size(); ++i)
        index.insert(next[i].name.toCaseFolded(), i);
    for (RegistryValue value : values) {
        const QString folded = value.name.toCaseFolded();
        const auto found = index.constFind(folded);
        if (found != index.constEnd()) {
            // The stored spelling of the name stays, as the registry keeps it.
            value.name = next[*found].name;
            next[*found] = std::move(value);
        } else {
            index.insert(folded, next.size());
            next.push_back(std::move(value));
        }
    }
    if (!replaceFileAtomically(valuesFile(), format(next))) return false;
    values_ = std::move(next);
    return true;
}

bool RegistryKey::store(RegistryValue value) {
    return writeValues({std::move(value)});
}

QByteArray RegistryKey::format(const std::vector<RegistryValue>& values) {
    QString text;
    for (const RegistryValue& v : values) {
        text += u'"' + escaped(v.name) + QLatin1String("\"=");
        if (v.type == RegistryValue::Type::Dword)
            text += QLatin1String("dword:") + QStringLiteral("%1").arg(v.number, 8, 16, QLatin1Char('0'));
        else
            text += u'"' + escaped(v.text) + u'"';
        text += u'\n';
    }
    // Byte for byte: a port or file name that is not UTF-8 comes back as it was stored.
    return fileNameBytes(text);
}

std::vector<RegistryValue> RegistryKey::parse(const QByteArray& text) {
    std::vector<RegistryValue> values;
    QHash<QString, size_t> index; // case-folded name -> position, so a long file parses in linear time
    const QStringList lines = fileNameFromBytes(text).split(u'\n');
    for (QString line : lines) {
        if (line.endsWith(u'\r')) line.chop(1);
        auto v = parseLine(line);
        if (!v) continue;
        // A later line for the same name wins, as a second write would.
        const QString folded = v->name.toCaseFolded();
        const auto found = index.constFind(folded);
        if (found != index.constEnd()) {
            values[*found] = std::move(*v);
        } else {
            index.insert(folded, values.size());
            values.push_back(std::move(*v));
        }
    }
    return values;
}

} // namespace platform
