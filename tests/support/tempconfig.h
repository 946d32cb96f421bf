#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points an environment variable at a fresh temporary folder, only the user can reach, for the lifetime of the
// object; the variable is as it was afterwards.
class TempFolderVariable {
public:
    explicit TempFolderVariable(const char* name);
    ~TempFolderVariable();
    TempFolderVariable(const TempFolderVariable&) = delete;
    TempFolderVariable& operator=(const TempFolderVariable&) = delete;

    QString path() const { return dir_.path(); }

private:
    const char* name_;
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_;
};

// XDG_CONFIG_HOME, so a test never touches the user's settings and never sees another test's.
class TempConfigHome : public TempFolderVariable {
public:
    TempConfigHome() : TempFolderVariable("XDG_CONFIG_HOME") {}
    // The registry root below it.
    QString registry() const { return path() + QLatin1String("/chipwright/registry"); }
};

// XDG_RUNTIME_DIR, where a window is found by later starts of the program.
class TempRuntimeDir : public TempFolderVariable {
public:
    TempRuntimeDir() : TempFolderVariable("XDG_RUNTIME_DIR") {}
};

QByteArray readWholeFile(const QString& path);
void writeWholeFile(const QString& path, const QByteArray& data);

#include <ostream>
// Readable QString values in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
