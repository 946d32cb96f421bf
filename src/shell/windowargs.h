#pragma once

#include <QString>
#include <QStringList>

// The window's own command line, after Qt has taken its options:
//   chipwright [--trace FILE]      (also --trace=FILE; FILE "-" is standard error)
struct WindowArguments {
    QString trace; // empty: no trace
    QString error; // empty when the command line is usable
    // Anything else: the window has always started whatever it was given, and still does.
    QStringList ignored;
};

// arguments without the program name.
WindowArguments parseWindowArguments(const QStringList& arguments);

// --help, -h or --version among the arguments (before a "--"): what the program prints for them without
// opening a window, so that it answers where no display is; empty when none is given.
QString windowInfoText(const QStringList& arguments, const QString& version);
