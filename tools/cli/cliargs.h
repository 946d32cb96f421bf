#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The command line of chipwright-cli, parsed but not yet checked against the settings or the files:
//   chipwright-cli [--port NAME] [--chip TYPE|INDEX] [--lock LEVEL] [--fill FF|00] [--quiet] COMMAND [ARGS]
// Options may stand before or after the command, as "--name value" or "--name=value"; "--" ends the options,
// so a file name may begin with a dash.
struct CliOptions {
    std::optional<QString> port;
    std::optional<int> chip; // 0..7
    std::optional<int> lock; // 0..3
    std::optional<int> fill; // 0xFF or 0x00
    bool quiet = false;
    bool help = false;
    bool version = false;
    QString command;
    QStringList arguments;
};

struct ParsedCommandLine {
    CliOptions options;
    QString error; // empty when the command line is usable

    bool ok() const { return error.isEmpty(); }
};

// arguments without the program name.
ParsedCommandLine parseCommandLine(const QStringList& arguments);

// "AT89C2051" (any case) or "0".."7" -> the chip index.
std::optional<int> parseChip(const QString& text);
// "0".."3", "LB1".."LB3" (any case) or "none" -> the lock level.
std::optional<int> parseLock(const QString& text);
// "FF" or "00" (any case) -> the fill byte.
std::optional<int> parseFill(const QString& text);

// The number of arguments a command takes, or nothing for an unknown command.
std::optional<int> commandArgumentCount(const QString& command);
