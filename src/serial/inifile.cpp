#include "serial/inifile.h"

#include "platform/atomicfile.h"

#include <QFile>

TIniFile::TIniFile(const QString& fileName) : fileName_(fileName) {
    load();
}

void TIniFile::load() {
    sections_.clear();
    QFile file(fileName_);
    if (!file.open(QIODevice::ReadOnly)) return;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (QByteArray raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            sections_.push_back({line.mid(1, line.size() - 2).trimmed(), {}});
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || sections_.empty()) continue;
        sections_.back().entries.push_back({line.left(eq).trimmed(), line.mid(eq + 1).trimmed()});
    }
}

QByteArray TIniFile::format() const {
    QByteArray out;
    for (const Section& s : sections_) {
        if (!out.isEmpty()) out += '\n';
        out += '[' + s.name.toUtf8() + "]\n";
        for (const Entry& e : s.entries)
            out += e.key.toUtf8() + '=' + e.value.toUtf8() + '\n';
    }
    return out;
}

const TIniFile::Entry* TIniFile::find(const QString& section, const QString& key) const {
    for (const Section& s : sections_) {
        if (s.name.compare(section, Qt::CaseInsensitive) != 0) continue;
        for (const Entry& e : s.entries)
            if (e.key.compare(key, Qt::CaseInsensitive) == 0) return &e;
    }
    return nullptr;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const {
    const Entry* e = find(section, key);
    return e ? e->value : defaultValue;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
    const Entry* e = find(section, key);
    if (!e) return defaultValue;
    bool ok = false;
    const int value = e->value.toInt(&ok);
    return ok ? value : defaultValue;
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    if (section.isEmpty() || key.isEmpty() || key.contains(QLatin1Char('=')) ||
        value.contains(QLatin1Char('\n')))
        return false;
    Section* target = nullptr;
    for (Section& s : sections_)
        if (s.name.compare(section, Qt::CaseInsensitive) == 0) target = &s;
    if (!target) {
        sections_.push_back({section, {}});
        target = &sections_.back();
    }
    bool replaced = false;
    for (Entry& e : target->entries)
        if (e.key.compare(key, Qt::CaseInsensitive) == 0) {
            e.value = value;
            replaced = true;
        }
    if (!replaced) target->entries.push_back({key, value});
    if (platform::replaceFileAtomically(fileName_, format())) return true;
    load(); // keep memory and file in step
    return false;
}

bool TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    return WriteString(section, key, QString::number(value));
}
