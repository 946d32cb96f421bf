#include "support/tempconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TempConfigHome::TempConfigHome()
    : previous_(qgetenv("XDG_CONFIG_HOME")), hadPrevious_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
}

TempConfigHome::~TempConfigHome() {
    if (hadPrevious_)
        qputenv("XDG_CONFIG_HOME", previous_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QByteArray readWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

void writeWholeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(data);
}
