#include "shell/windowargs.h"

WindowArguments parseWindowArguments(const QStringList& arguments) {
    WindowArguments parsed;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool isOption = !optionsEnded && argument.startsWith(u'-') && argument != QLatin1String("-");
        if (!isOption) {
            // One file: the window shows one image at a time.
            if (parsed.file.isEmpty() && !argument.isEmpty())
                parsed.file = argument;
            else
                parsed.ignored << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (argument == QLatin1String("--trace")) {
            if (i + 1 >= arguments.size()) {
                parsed.error = QStringLiteral("--trace needs a file name, or - for standard error");
                return parsed;
            }
            parsed.trace = arguments[++i];
        } else if (argument.startsWith(QLatin1String("--trace="))) {
            parsed.trace = argument.mid(8);
        } else {
            parsed.ignored << argument;
            continue;
        }
        if (parsed.trace.isEmpty()) {
            parsed.error = QStringLiteral("--trace needs a file name, or - for standard error");
            return parsed;
        }
    }
    return parsed;
}

QString commandLineFile(const QString& given, const QString& currentFolder) {
    if (given.isEmpty() || given.startsWith(u'/')) return given;
    return currentFolder + (currentFolder.endsWith(u'/') ? QString() : QStringLiteral("/")) + given;
}

QString windowInfoText(const QStringList& arguments, const QString& version) {
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--")) break;
        if (argument == QLatin1String("--version")) return QStringLiteral("chipwright %1\n").arg(version);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return QStringLiteral(R"(Usage: chipwright [--trace FILE] [Qt options] [HEXFILE]
The Chipwright window: programs AT89C2051/4051/51/52/55 and AT89S51/52/53 chips through a serial
8051 flash programmer. Settings are kept under ${XDG_CONFIG_HOME:-~/.config}/chipwright/registry.

HEXFILE (Intel HEX or binary) is opened as the Open command opens it. One window runs per user: started
again, chipwright hands HEXFILE to the window already running, which comes to the front and opens it,
and exits at once without touching the port.

Options:
  --trace FILE   Write a wire trace of the programmer's link to FILE ("-": standard error).
  -h, --help     Show this text.
  --version      Show the version.
Qt's own options (-platform, -display and others) are taken as well.
chipwright-cli does the same work from a terminal or a script: chipwright-cli --help.
)");
    }
    return {};
}
