#pragma once

#include <QString>

#include <vector>

// A small profile file: "[Section]" lines and "Key=Value" lines below them. Section and key names match
// ignoring letter case, as profile files do. Every write replaces the file at once (atomically) and reports
// whether it could; a missing or unreadable file reads as empty.
class TIniFile {
public:
    explicit TIniFile(const QString& fileName);

    const QString& FileName() const { return fileName_; }
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    // Decimal text; a missing or non-numeric value gives the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    bool WriteString(const QString& section, const QString& key, const QString& value);
    bool WriteInteger(const QString& section, const QString& key, int value);

private:
    struct Entry {
        QString key, value;
    };
    struct Section {
        QString name;
        std::vector<Entry> entries;
    };

    void load();
    QByteArray format() const;
    const Entry* find(const QString& section, const QString& key) const;

    QString fileName_;
    std::vector<Section> sections_;
};
