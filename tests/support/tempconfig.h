#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points XDG_CONFIG_HOME at a fresh temporary folder for the lifetime of the object, so a test never touches the
// user's settings and never sees another test's.
class TempConfigHome {
public:
    TempConfigHome();
    ~TempConfigHome();
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    QString path() const { return dir_.path(); }
    // The registry root below it.
    QString registry() const { return path() + QLatin1String("/chipwright/registry"); }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_;
};

QByteArray readWholeFile(const QString& path);
void writeWholeFile(const QString& path, const QByteArray& data);

#include <ostream>
// Readable QString values in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
