#pragma once

#include "platform/registry.h"

#include <QString>

#include <optional>
#include <utility>
#include <vector>

// The application's sectioned settings store. Its name is a full path (the executable's folder followed by
// "Program.ini"); each component of that path is one key below the current user's hive, and each section is a
// subkey created on first write. Every value is a string: integers as signed decimal text, booleans as "1"/"0".
class AppSettingsStore {
public:
    explicit AppSettingsStore(QString storeName);

    const QString& storeName() const { return storeName_; }

    // The default when the section or the value is missing or the text is not an integer.
    int readInteger(const QString& section, const QString& name, int defaultValue) const;
    bool readBool(const QString& section, const QString& name, bool defaultValue) const;

    // False when the value could not be written.
    bool writeInteger(const QString& section, const QString& name, int value);
    bool writeBool(const QString& section, const QString& name, bool value);
    // Several values of one section, as name and text, written with one replacement of the section's file:
    // a crash leaves all of them old or all new.
    bool writeTexts(const QString& section, const std::vector<std::pair<QString, QString>>& values);

    static QString integerText(int value) { return QString::number(value); }
    static QString boolText(bool value) { return value ? QStringLiteral("1") : QStringLiteral("0"); }

    // The store name of an executable in folder: "<folder>/Program.ini".
    static QString nameForExecutableFolder(const QString& folder);

private:
    std::optional<QString> readText(const QString& section, const QString& name) const;

    QString storeName_;
};
