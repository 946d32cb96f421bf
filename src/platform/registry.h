#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace platform {

// A small file-backed stand-in for the Windows registry.
//
// Root R = ${XDG_CONFIG_HOME:-$HOME/.config}/chipwright/registry holds one folder per hive. A key is a folder per
// path component (empty components skipped; an existing folder is found ignoring letter case, a new one keeps the
// given spelling). A key's values live in values.reg in its folder, one per line:
//     "Name"="text"              string value, with \\ and \" escaped
//     "Name"=dword:0000012c      32-bit number value, 8 lower-case hex digits
// The file is replaced atomically on every change. A line that does not parse is ignored; a values.reg that
// is not a regular file, or is larger than a megabyte, reads as empty.

enum class RegistryHive { CurrentUser, LocalMachine };

QString registryRoot();
QString hiveFolderName(RegistryHive hive);

// Splits a key path into its components; both '\' and '/' separate, empty components are dropped.
QStringList registryPathComponents(const QString& path);

struct RegistryValue {
    enum class Type { String, Dword };
    QString name;
    Type type = Type::String;
    QString text;
    quint32 number = 0;
};

// For a process that only reads the settings (the command-line tool): no key folder is created and no value
// is written, whatever a caller asks.
void setRegistryReadOnly(bool readOnly);

class RegistryKey {
public:
    // Opens the key at path below hive; with create, missing folders are made. Returns nothing when the key does
    // not exist (and create is false) or cannot be created.
    static std::optional<RegistryKey> open(RegistryHive hive, const QString& path, bool create);

    const QString& folder() const { return folder_; }
    QString valuesFile() const;

    // Value names are matched ignoring letter case, as the registry does.
    const RegistryValue* value(const QString& name) const;
    std::optional<QString> readString(const QString& name) const;
    std::optional<quint32> readDword(const QString& name) const;
    QStringList valueNames() const;

    // Write a value and replace values.reg at once; false when the file could not be written (the value is
    // then not kept either).
    bool writeString(const QString& name, const QString& text);
    bool writeDword(const QString& name, quint32 number);
    // Several values at once, in order, with one replacement of values.reg: a crash leaves all of them old or
    // all new. False (nothing kept) when the file could not be written.
    bool writeValues(const std::vector<RegistryValue>& values);

    // The text of values.reg for these values, and the values read from such a text.
    static QByteArray format(const std::vector<RegistryValue>& values);
    static std::vector<RegistryValue> parse(const QByteArray& text);

private:
    explicit RegistryKey(QString folder);
    bool store(RegistryValue value);

    QString folder_;
    std::vector<RegistryValue> values_;
};

} // namespace platform
