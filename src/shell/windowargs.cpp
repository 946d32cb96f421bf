#include "shell/windowargs.h"

WindowArguments parseWindowArguments(const QStringList& arguments) {
    WindowArguments parsed;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
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
