#include "support/tempconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TempFolderVariable::TempFolderVariable(const char* name)
    : name_(name), previous_(qgetenv(name)), hadPrevious_(qEnvironmentVariableIsSet(name)) {
    QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv(name_, QFile::encodeName(dir_.path()));
}

TempFolderVariable::~TempFolderVariable() {
    if (hadPrevious_)
        qputenv(name_, previous_);
    else
        qunsetenv(name_);
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
