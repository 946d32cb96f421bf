#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

// One finished run of the built chipwright-cli.
struct CliResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs $CHIPWRIGHT_BUILD_DIR/chipwright-cli with arguments in workDir (the current folder when empty), input
// on its standard input (then closed), and waits for it, at most a generous minute; a run that does not end
// is killed and reported as a failure.
CliResult runCli(const QStringList& arguments, const QString& workDir = {}, const QByteArray& input = {});

// The same, started through launcher: its program and arguments, followed by the tool's path and arguments
// (for example "setpriv" with its options, to run the tool as another user).
CliResult runCliThrough(const QStringList& launcher, const QStringList& arguments, const QString& workDir = {},
                        const QByteArray& input = {});

// What the tool prints for these log lines: each followed by a line break.
QByteArray logText(const QStringList& lines);

// The log of an Auto run that passed.
extern const QStringList autoLog;

// The watchdog's log line (a line break, two lines, a line break).
extern const QString connectionErrorLine;

// The records of a --log file, one per line; every line must parse as JSON.
std::vector<QJsonObject> logRecords(const QString& path);
