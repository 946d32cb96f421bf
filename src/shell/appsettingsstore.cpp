#include "shell/appsettingsstore.h"

using platform::RegistryHive;
using platform::RegistryKey;

AppSettingsStore::AppSettingsStore(QString storeName) : storeName_(std::move(storeName)) {
    // Opening the store creates its key, as the registry does; a failure shows later as defaults on reading
    // and a failed write.
    RegistryKey::open(RegistryHive::CurrentUser, storeName_, true);
}

QString AppSettingsStore::nameForExecutableFolder(const QString& folder) {
    QString name = folder;
    if (!name.endsWith(u'/')) name += u'/';
    return name + QLatin1String("Program.ini");
}

std::optional<QString> AppSettingsStore::readText(const QString& section, const QString& name) const {
    const auto key = RegistryKey::open(RegistryHive::CurrentUser, storeName_ + u'\\' + section, false);
    if (!key) return std::nullopt;
    return key->readString(name);
}

bool AppSettingsStore::writeTexts(const QString& section,
                                  const std::vector<std::pair<QString, QString>>& values) {
    auto key = RegistryKey::open(RegistryHive::CurrentUser, storeName_ + u'\\' + section, true);
    if (!key) return false;
    std::vector<platform::RegistryValue> entries;
    for (const auto& [name, text] : values) {
        platform::RegistryValue v;
        v.name = name;
        v.text = text;
        entries.push_back(std::move(v));
    }
    return key->writeValues(entries);
}

int AppSettingsStore::readInteger(const QString& section, const QString& name, int defaultValue) const {
    const auto text = readText(section, name);
    if (!text) return defaultValue;
    bool ok = false;
    const int value = text->trimmed().toInt(&ok, 10);
    return ok ? value : defaultValue;
}

bool AppSettingsStore::readBool(const QString& section, const QString& name, bool defaultValue) const {
    return readInteger(section, name, defaultValue ? 1 : 0) != 0;
}

bool AppSettingsStore::writeInteger(const QString& section, const QString& name, int value) {
    return writeTexts(section, {{name, integerText(value)}});
}

bool AppSettingsStore::writeBool(const QString& section, const QString& name, bool value) {
    return writeTexts(section, {{name, boolText(value)}});
}
