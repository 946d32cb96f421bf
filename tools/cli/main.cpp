// chipwright-cli: the programmer operations from a terminal or a script, on the GUI's core objects.
#include "clihelp.h"
#include "clirun.h"

#include "platform/filenames.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // A reader that goes away (`| head`) must not end a run on the chip half-way: output then fails quietly
    // and the exit status still tells what happened to the chip.
    std::signal(SIGPIPE, SIG_IGN);
    // The arguments byte for byte (Qt's own list replaces bytes that are not UTF-8): a file name must reach
    // the system as it was given.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << platform::fileNameFromBytes(QByteArray(argv[i]));
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(CHIPWRIGHT_VERSION));
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    if (!parsed.ok()) {
        std::fprintf(stderr, "chipwright-cli: %s\nTry \"chipwright-cli --help\".\n",
                     parsed.error.toUtf8().constData());
        return ExitUsage;
    }
    if (parsed.options.help) {
        std::fputs(cliHelpText().toUtf8().constData(), stdout);
        return ExitOk;
    }
    if (parsed.options.version) {
        std::printf("chipwright-cli %s\n", CHIPWRIGHT_VERSION);
        return ExitOk;
    }
    return runCommand(parsed.options);
}
