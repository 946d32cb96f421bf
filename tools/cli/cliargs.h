#pragma once

#include "buffer/hexwriter.h"
#include "production/serialnumber.h"

#include <QString>
#include <QStringList>

#include <optional>

// The command line of chipwright-cli, parsed but not yet checked against the settings or the files:
//   chipwright-cli [--port NAME]... [--chip TYPE|INDEX] [--lock LEVEL] [--fill FF|00] [--format hex|bin]
//                  [--baud RATE] [--trace FILE] [--log FILE] [--operator NAME] [--repeat] [--quiet]
//                  COMMAND [ARGS]
// Options may stand before or after the command, as "--name value" or "--name=value"; "--" ends the options,
// so a file name may begin with a dash. A lone "-" is a word, not an option: standard input or output.
struct CliOptions {
    // The ports in the order given; none: the saved port. Several run the command on each at once.
    QStringList ports;
    std::optional<int> chip; // 0..7
    std::optional<int> lock; // 0..3
    std::optional<int> fill; // 0xFF or 0x00
    // The line rate for this run in place of the saved one (never saved).
    std::optional<int> baud;
    // The image format where no file name gives it ("-", or a name of no known ending).
    std::optional<SaveFormat> format;
    // Where the wire trace goes: a file name, or "-" for standard error.
    std::optional<QString> trace;
    // Where one JSON line per run and port is appended.
    std::optional<QString> log;
    // Who runs the station, for the log (empty when not given).
    QString operatorName;
    // Each chip's own serial number: where it goes, the counter file, the counter's first number (only when
    // the file does not exist yet).
    std::optional<SerialField> serial;
    std::optional<QString> serialFile;
    std::optional<quint64> serialStart;
    // Runs the command again for each next chip, until the user says stop.
    bool repeat = false;
    bool quiet = false;
    // ports --probe [NAME...]: send the probe on the listed ports, or on the named ones.
    bool probe = false;
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
// "hex" or "bin" (any case) -> the image format.
std::optional<SaveFormat> parseFormat(const QString& text);
// A line rate in bits per second, 50 to 4000000 -> the rate.
std::optional<int> parseBaud(const QString& text);
// "FF" or "00" (any case) -> the fill byte.
std::optional<int> parseFill(const QString& text);

// Whether the command talks to a programmer (and so may run on several ports, be repeated and be logged).
bool isProgrammerCommand(const QString& command);

// The number of arguments a command takes, or nothing for an unknown command.
std::optional<int> commandArgumentCount(const QString& command);
