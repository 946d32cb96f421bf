#pragma once

#include "portjob.h"

#include "production/serialnumber.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <optional>

// A programmer command on one port or on several at once, once or (--repeat) for chip after chip.
struct GangPlan {
    // The ports as given; none: the saved port.
    QStringList ports;
    // What every port runs (its port left empty: each gets its own).
    PortJobSetup setup;
    // For the log: the command, the chip it was for (none for the probe), the image file, the lock level the
    // run sets.
    QString operation;
    std::optional<QString> chip;
    std::optional<QString> file;
    std::optional<int> lock;
    // Each chip's serial number: where it goes in the image, and the counter it is taken from.
    std::optional<SerialField> serial;
    std::optional<QString> serialFile;
    // The SHA-256 of the image file as read, for the log.
    std::optional<QString> sha256;
    // read: the file the image goes to ("-": standard output); each port's own name is made from it.
    std::optional<QString> output;
    std::optional<QString> trace;
    std::optional<QString> log;
    // For the log: who runs the station, and the tool's version.
    QString operatorName;
    QString version;
    bool quiet = false;
    bool repeat = false;
    // Where the log lines go (standard error when the image goes to standard output).
    std::FILE* logStream = stdout;
    // After a run that passed, on the port's thread: what is left to do with its result (writing a read
    // image), given the port's own output name: an exit code, with the failure text set.
    std::function<int(PortJob&, const QString& output, QString& failure)> afterRun;
    // The checksum the log gives for a run (the image programmed or verified; what a read that passed read).
    std::function<std::optional<QString>(PortJob&, bool passed)> checksum;
};

// Runs the plan: each port on a thread of its own, so that one programmer's waits and failures never hold up
// another. Log lines carry the port's label ("[ttyUSB0] ") when several ports run; a summary table follows.
// With repeat, the user is asked for the next chip after every round (see StationBook and NextChipAnswer for
// the rules). Returns the exit code: 0 when every run on every port passed, 1 when any failed, a port failed,
// or the log could not take a line; 2 for a trace or log that cannot be opened.
int runOnPorts(const GangPlan& plan);

// The short name each port goes by in log lines and file names: the name without "/dev/" ("ttyUSB0",
// "pts/3"), the last part of a longer path (a /dev/serial/by-id/ link, a socat link elsewhere), or where two
// ports would share that, the whole name.
QStringList portLabels(const QStringList& names);

// path with the port's label before its ending: "out.hex", "ttyUSB0" -> "out-ttyUSB0.hex" (a slash in the
// label becomes an underscore: "pts/3" -> "out-pts_3.hex").
QString nameForPort(const QString& path, QString label);
