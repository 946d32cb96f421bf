#pragma once

#include <QString>
#include <QStringList>

// The window's own command line, after Qt has taken its options:
//   chipwright [--trace FILE] [--] [HEXFILE]      (also --trace=FILE; FILE "-" is standard error)
struct WindowArguments {
    QString trace; // empty: no trace
    // The code file to open once the window is up, as given; empty: none.
    QString file;
    QString error; // empty when the command line is usable
    // Anything else (unknown options, a second file): the window has always started whatever it was given,
    // and still does.
    QStringList ignored;
};

// arguments without the program name.
WindowArguments parseWindowArguments(const QStringList& arguments);

// The file named on the command line as the window opens it: a relative name is taken from currentFolder
// (the program's, at its start), so that a window started elsewhere finds the same file.
QString commandLineFile(const QString& given, const QString& currentFolder);

// --help, -h or --version among the arguments (before a "--"): what the program prints for them without
// opening a window, so that it answers where no display is; empty when none is given.
QString windowInfoText(const QStringList& arguments, const QString& version);
