#include "cliargs.h"

#include "programmer/chipcatalogue.h"

#include <map>

namespace {

const std::map<QString, int> commands = {
    {QStringLiteral("probe"), 0},  {QStringLiteral("erase"), 0},   {QStringLiteral("program"), 1},
    {QStringLiteral("verify"), 1}, {QStringLiteral("read"), 1},    {QStringLiteral("lock"), 0},
    {QStringLiteral("auto"), 1},   {QStringLiteral("convert"), 2}, {QStringLiteral("ports"), 0},
    {QStringLiteral("chips"), 0},  {QStringLiteral("blank"), 0},
};

QString argumentWord(int count) {
    static const char* const names[] = {"no argument", "one argument", "two arguments"};
    return QLatin1String(names[count]);
}

} // namespace

std::optional<int> parseChip(const QString& text) {
    bool number = false;
    const int index = text.toInt(&number);
    if (number)
        return index >= 0 && index < chipCount && text.size() == 1 ? std::optional(index) : std::nullopt;
    for (int i = 0; i < chipCount; ++i)
        if (text.compare(QLatin1String(chipCatalogue[static_cast<size_t>(i)].type), Qt::CaseInsensitive) == 0)
            return i;
    return std::nullopt;
}

std::optional<int> parseLock(const QString& text) {
    const QString t = text.toLower();
    if (t == QLatin1String("none")) return 0;
    static const char* const levels[] = {"0", "1", "2", "3"};
    for (int i = 0; i < 4; ++i)
        if (t == QLatin1String(levels[i]) || (i > 0 && t == QLatin1String("lb") + QLatin1String(levels[i])))
            return i;
    return std::nullopt;
}

std::optional<int> parseFill(const QString& text) {
    const QString t = text.toLower();
    if (t == QLatin1String("ff")) return 0xFF;
    if (t == QLatin1String("00")) return 0x00;
    return std::nullopt;
}

std::optional<int> parseBaud(const QString& text) {
    bool number = false;
    const int rate = text.toInt(&number);
    if (!number || rate < 50 || rate > 4000000 || text != QString::number(rate)) return std::nullopt;
    return rate;
}

std::optional<SaveFormat> parseFormat(const QString& text) {
    const QString t = text.toLower();
    if (t == QLatin1String("hex")) return SaveFormat::Hex;
    if (t == QLatin1String("bin")) return SaveFormat::Binary;
    return std::nullopt;
}

bool isProgrammerCommand(const QString& command) {
    static const QStringList programmerCommands = {
        QStringLiteral("probe"), QStringLiteral("erase"), QStringLiteral("program"), QStringLiteral("verify"),
        QStringLiteral("read"),  QStringLiteral("lock"),  QStringLiteral("auto"),  QStringLiteral("blank"),
    };
    return programmerCommands.contains(command);
}

std::optional<int> commandArgumentCount(const QString& command) {
    const auto found = commands.find(command);
    if (found == commands.end()) return std::nullopt;
    return found->second;
}

ParsedCommandLine parseCommandLine(const QStringList& arguments) {
    ParsedCommandLine parsed;
    CliOptions& o = parsed.options;
    QStringList words;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            words << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = argument;
        std::optional<QString> value;
        if (const qsizetype equals = argument.indexOf(QLatin1Char('='));
            argument.startsWith(QLatin1String("--")) && equals > 0) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
        }
        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            o.help = true;
            continue;
        }
        if (name == QLatin1String("--probe")) {
            o.probe = true;
            continue;
        }
        if (name == QLatin1String("--version")) {
            o.version = true;
            continue;
        }
        if (name == QLatin1String("--repeat")) {
            o.repeat = true;
            continue;
        }
        if (name == QLatin1String("-q") || name == QLatin1String("--quiet")) {
            o.quiet = true;
            continue;
        }
        const bool takesValue = name == QLatin1String("--port") || name == QLatin1String("--chip") ||
                                name == QLatin1String("--lock") || name == QLatin1String("--fill") ||
                                name == QLatin1String("--format") || name == QLatin1String("--trace") ||
                                name == QLatin1String("--log") || name == QLatin1String("--operator") ||
                                name == QLatin1String("--serial") || name == QLatin1String("--serial-file") ||
                                name == QLatin1String("--serial-start") || name == QLatin1String("--baud");
        if (!takesValue) {
            parsed.error = QStringLiteral("unknown option \"%1\"").arg(argument);
            return parsed;
        }
        if (!value) {
            if (i + 1 >= arguments.size()) {
                parsed.error = QStringLiteral("%1 needs a value").arg(name);
                return parsed;
            }
            value = arguments[++i];
        }
        if (name == QLatin1String("--port")) {
            if (value->isEmpty()) {
                parsed.error = QStringLiteral("--port needs a port name");
                return parsed;
            }
            if (o.ports.contains(*value)) {
                parsed.error = QStringLiteral("--port %1 is given twice").arg(*value);
                return parsed;
            }
            o.ports << *value;
        } else if (name == QLatin1String("--chip")) {
            o.chip = parseChip(*value);
            if (!o.chip) {
                parsed.error =
                    QStringLiteral("--chip: \"%1\" is neither a chip type (chipwright-cli chips lists "
                                   "them) nor an index 0-7")
                        .arg(*value);
                return parsed;
            }
        } else if (name == QLatin1String("--lock")) {
            o.lock = parseLock(*value);
            if (!o.lock) {
                parsed.error = QStringLiteral("--lock: \"%1\" is not 0-3, LB1-LB3 or none").arg(*value);
                return parsed;
            }
        } else if (name == QLatin1String("--format")) {
            o.format = parseFormat(*value);
            if (!o.format) {
                parsed.error = QStringLiteral("--format: \"%1\" is neither hex nor bin").arg(*value);
                return parsed;
            }
        } else if (name == QLatin1String("--trace")) {
            if (value->isEmpty()) {
                parsed.error = QStringLiteral("--trace needs a file name, or - for standard error");
                return parsed;
            }
            o.trace = *value;
        } else if (name == QLatin1String("--baud")) {
            o.baud = parseBaud(*value);
            if (!o.baud) {
                parsed.error =
                    QStringLiteral("--baud: \"%1\" is not a line rate from 50 to 4000000 bits per second")
                        .arg(*value);
                return parsed;
            }
        } else if (name == QLatin1String("--log")) {
            if (value->isEmpty()) {
                parsed.error = QStringLiteral("--log needs a file name");
                return parsed;
            }
            o.log = *value;
        } else if (name == QLatin1String("--operator")) {
            o.operatorName = *value;
        } else if (name == QLatin1String("--serial")) {
            QString error;
            o.serial = SerialField::parse(*value, error);
            if (!o.serial) {
                parsed.error = error;
                return parsed;
            }
        } else if (name == QLatin1String("--serial-file")) {
            if (value->isEmpty()) {
                parsed.error = QStringLiteral("--serial-file needs a file name");
                return parsed;
            }
            o.serialFile = *value;
        } else if (name == QLatin1String("--serial-start")) {
            bool ok = false;
            o.serialStart = value->toULongLong(&ok, 10);
            if (!ok || value->startsWith(QLatin1Char('+'))) {
                parsed.error = QStringLiteral("--serial-start: \"%1\" is no number").arg(*value);
                return parsed;
            }
        } else {
            o.fill = parseFill(*value);
            if (!o.fill) {
                parsed.error = QStringLiteral("--fill: \"%1\" is neither FF nor 00").arg(*value);
                return parsed;
            }
        }
    }
    if (o.help || o.version) return parsed;
    if (words.isEmpty()) {
        parsed.error = QStringLiteral("no command given");
        return parsed;
    }
    o.command = words.takeFirst();
    const std::optional<int> count = commandArgumentCount(o.command);
    if (!count) {
        parsed.error = QStringLiteral("unknown command \"%1\"").arg(o.command);
        return parsed;
    }
    if (o.probe && o.command != QLatin1String("ports")) {
        parsed.error = QStringLiteral("--probe goes with the ports command");
        return parsed;
    }
    if (o.probe) {
        o.arguments = words; // the ports to probe; none: every listed port
        return parsed;
    }
    if (words.size() != *count) {
        parsed.error =
            QStringLiteral("%1 takes %2, not %3").arg(o.command, argumentWord(*count)).arg(words.size());
        return parsed;
    }
    o.arguments = words;
    const bool programmer = isProgrammerCommand(o.command);
    if (o.ports.size() > 1 && !programmer)
        parsed.error = QStringLiteral("%1 takes one --port at most").arg(o.command);
    else if (o.repeat && (!programmer || o.command == QLatin1String("read")))
        parsed.error = QStringLiteral("--repeat goes with probe, erase, program, verify, lock and auto");
    else if (o.serial && o.command != QLatin1String("program") && o.command != QLatin1String("auto"))
        parsed.error = QStringLiteral("--serial goes with program and auto");
    else if (o.serial.has_value() != o.serialFile.has_value())
        parsed.error = QStringLiteral("--serial and --serial-file go together");
    else if (o.serialStart && !o.serialFile)
        parsed.error = QStringLiteral("--serial-start goes with --serial and --serial-file");
    else if (o.log && !programmer)
        parsed.error = QStringLiteral("--log goes with probe, erase, program, verify, read, lock and auto");
    else if (o.repeat && o.arguments.value(0) == QLatin1String("-"))
        parsed.error = QStringLiteral("--repeat reads the answers from standard input, so the image cannot "
                                      "come from there");
    else if (o.ports.size() > 1 && o.command == QLatin1String("read") &&
             o.arguments.value(0) == QLatin1String("-"))
        parsed.error = QStringLiteral("read from several ports writes a file per port, not standard output");
    return parsed;
}
