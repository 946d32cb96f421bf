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
