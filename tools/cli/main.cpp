// chipwright-cli: the programmer operations from a terminal or a script, on the GUI's core objects.
#include "clihelp.h"
#include "clirun.h"
#include "outputstatus.h"

#include "platform/atomicfile.h"
#include "platform/filenames.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// code, or when standard output lost what was written to it, the reason on standard error and a code that is
// not 0: the chip's own outcome (1) stands; otherwise 2, an output that cannot be written.
int withOutputChecked(int code) {
    const QString failure = standardOutputFailure();
    if (failure.isEmpty()) return code;
    std::fprintf(stderr, "chipwright-cli: cannot write standard output: %s\n", failure.toUtf8().constData());
    return code == ExitOk ? ExitUsage : code;
}

} // namespace

int main(int argc, char** argv) {
    // A standard stream the caller closed (">&-") must not be taken by the next file the tool opens, a serial
    // port for one: it gets /dev/null, read-only, so writes to it fail as writes to a closed stream do.
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    // A reader that goes away (`| head`) must not end a run on the chip half-way: output then fails, the run
    // goes on, and the end tells of the lost output (withOutputChecked).
    std::signal(SIGPIPE, SIG_IGN);
    // A file size limit (ulimit -f) makes a write to the log, a trace or an image fail with "File too large"
    // instead of ending the tool half-way through a line.
    platform::ignoreFileSizeSignal();
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
        if (std::fputs(cliHelpText().toUtf8().constData(), stdout) < 0) noteOutputFailure(stdout, errno);
        return withOutputChecked(ExitOk);
    }
    if (parsed.options.version) {
        if (std::printf("chipwright-cli %s\n", CHIPWRIGHT_VERSION) < 0) noteOutputFailure(stdout, errno);
        return withOutputChecked(ExitOk);
    }
    return withOutputChecked(runCommand(parsed.options));
}
