#include "clirun.h"

#include "console.h"
#include "gangrun.h"
#include "imagepipes.h"
#include "linerate.h"
#include "portscan.h"
#include "terminalview.h"

#include "buffer/dumpline.h"
#include "buffer/filecommands.h"
#include "buffer/filenames.h"
#include "platform/filenames.h"
#include "platform/outputcheck.h"
#include "platform/registry.h"
#include "production/blankcheck.h"
#include "production/runlog.h"
#include "production/serialnumber.h"
#include "programmer/chipcatalogue.h"
#include "programmer/hostsession.h"
#include "programmer/linktrace.h"
#include "programmer/sequencer.h"
#include "serial/comport.h"
#include "serial/comsettings.h"
#include "shell/appsettings.h"
#include "shell/appsettingsstore.h"
#include "shell/portbringup.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace {

// How long the tool waits for a reply that no watchdog covers: the probe's 0x02 and the Lock's 0x09 (also the
// Lock at the end of an Auto run). While the sequencer's watchdog runs, it is the one that decides.
constexpr int probeWaitMs = 1000;
constexpr int unguardedReplyMs = 3000;
// ports --probe: how long the probed ports may take to answer. A programmer answers within a few ms (the
// window's ready check gives it 100 ms); the whole scan, opening and closing included, stays within 1.5 s.
constexpr int probeAnswerMs = 800;

const QString noFileText = QStringLiteral("Please Open *.Hex or *.Bin File Firstly !");
const QString openErrorText = QStringLiteral("Open File Error !  Please Choose Again !");

const QString unknownEndingText =
    QStringLiteral("%1: the name must end in .hex, .ihx, .ihex or .bin, or give --format hex|bin");

const QString unknownStreamText = QStringLiteral(
    "%1: neither Intel HEX (no record starts it) nor a binary image (it reads as text); give --format hex|bin");

// read OUT and convert IN OUT with OUT standard output ("-", /dev/stdout, /dev/fd/1): the image takes it, so
// the log lines go to standard error.
bool imageToStandardOutput(const CliOptions& o) {
    const int outputArgument = o.command == QLatin1String("read")      ? 0
                               : o.command == QLatin1String("convert") ? 1
                                                                       : -1;
    return outputArgument >= 0 && streamDescriptor(o.arguments.value(outputArgument), 1) == 1;
}

// Whether the folder that would hold the file exists, asked of the system with the name's own bytes (a folder
// whose name is not UTF-8 included).
bool folderExists(const QString& path) {
    QByteArray folder = platform::fileNameBytes(path);
    const qsizetype slash = folder.lastIndexOf('/');
    folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : folder.left(slash);
    struct stat st {};
    return ::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

class CommandRun {
public:
    explicit CommandRun(const CliOptions& options)
        : o_(options),
          store_(AppSettingsStore::nameForExecutableFolder(QCoreApplication::applicationDirPath())),
          settings_(AppSettings::read(store_)), console_(stdout, stderr, 0),
          view_(console_, imageToStandardOutput(options) ? stderr : stdout, options.quiet), session_(view_) {}

    int run() {
        const QString& c = o_.command;
        if (c == QLatin1String("chips")) return chips();
        if (c == QLatin1String("ports")) return ports();
        if (c == QLatin1String("probe"))
            return withProgrammer([](Sequencer& s) { s.sendProbe(); }, Sequencer::Ending::Ready, probeWaitMs,
                                  true);

        if (const int code = selectChip()) return code;
        if (c == QLatin1String("convert")) return convert();
        if (c == QLatin1String("erase"))
            return withProgrammer([](Sequencer& s) { s.EraseButClick(); }, Sequencer::Ending::Erased);
        if (c == QLatin1String("read")) return read();
        if (c == QLatin1String("blank"))
            return withProgrammer([](Sequencer& s) { s.ReadButClick(); }, Sequencer::Ending::Read,
                                  unguardedReplyMs, false, [](PortJob& job, const QString&, QString& failure) {
                                      return judgeBlank(job, failure);
                                  });
        if (c == QLatin1String("lock")) {
            if (const int code = selectLock()) return code;
            return withProgrammer([](Sequencer& s) { s.sendLock(); }, Sequencer::Ending::Locked);
        }
        if (const int code = load(o_.arguments.value(0))) return code;
        if (const int code = prepareSerial()) return code;
        if (c == QLatin1String("program"))
            return withProgrammer([](Sequencer& s) { s.ProgramButClick(); }, Sequencer::Ending::Programmed);
        if (c == QLatin1String("verify"))
            return withProgrammer([](Sequencer& s) { s.VerifyButClick(); }, Sequencer::Ending::Verified);
        if (const int code = selectLock()) return code;
        return withProgrammer([](Sequencer& s) { s.AutoProButClick(); }, Sequencer::Ending::Locked);
    }

private:
    void outLine(const QString& text) { console_.line(stdout, text); }
    void errorLine(const QString& text) { console_.toolError(text); }

    int chips() {
        for (int i = 0; i < chipCount; ++i) {
            const ChipInfo& chip = chipCatalogue[static_cast<size_t>(i)];
            outLine(QStringLiteral("%1  %2 %3K  %4 bytes  %5  Vpp %6")
                        .arg(i)
                        .arg(QLatin1String(chip.type), -10)
                        .arg(chip.capacity / 1024, 2)
                        .arg(chip.capacity, 5)
                        .arg(QLatin1String(chip.company), QLatin1String(chip.vpp)));
        }
        return ExitOk;
    }

    int ports() {
        QStringList names = o_.arguments;
        if (names.isEmpty()) {
            try {
                ListSerialPorts(names);
            } catch (const std::exception& e) {
                errorLine(QStringLiteral("cannot list the serial devices: ") + QString::fromUtf8(e.what()));
                return ExitFailed;
            }
        }
        if (o_.probe) return probe(names);
        std::vector<platform::SerialPortDetails> details;
        platform::listSerialPortDetails(details); // no details is no reason to hide the names
        for (const QString& name : names) {
            platform::SerialPortDetails shown;
            shown.name = name.toStdString();
            for (const platform::SerialPortDetails& d : details)
                if (d.name == shown.name) shown = d;
            outLine(portLine(shown));
        }
        return ExitOk;
    }

    // Every port at once, with the saved line settings: exit 0 when a programmer answered on any of them.
    int probe(const QStringList& names) {
        const auto results = probePorts(
            names,
            [this](TCustomComPort& port) {
                if (settings_.comSeted) port.RestoreSettings(RegistryStore, portSettingsLocation);
                if (o_.baud) setLineRate(port, *o_.baud);
            },
            probeAnswerMs);
        qsizetype width = 0;
        for (const QString& name : names)
            width = std::max(width, name.size());
        bool found = false;
        for (const ProbeResult& r : results) {
            outLine(probeLine(r, width));
            found = found || r.outcome == ProbeOutcome::Programmer;
        }
        return found ? ExitOk : ExitFailed;
    }

    // The chip from --chip or the GUI's saved choice; sizes the buffers for it.
    int selectChip() {
        const int index = o_.chip.value_or(settings_.chipIndex);
        chip_ = chipAt(index);
        if (!chip_) {
            errorLine(
                QStringLiteral("the saved chip index %1 is not 0-7; choose a chip with --chip").arg(index));
            return ExitUsage;
        }
        session_.setChipIndex(index);
        session_.setFillByte(static_cast<quint8>(o_.fill.value_or(settings_.fill)));
        session_.showStartupChip();
        return ExitOk;
    }

    int selectLock() {
        const int level = o_.lock.value_or(settings_.lockLevel);
        if (level < 0 || level > 3) {
            errorLine(
                QStringLiteral("the saved lock level %1 is not 0-3; choose one with --lock").arg(level));
            return ExitUsage;
        }
        session_.setLockLevel(level);
        return ExitOk;
    }

    // Loads path ("-" and the other stream names: that stream) for the chip as the GUI's Open does; refusals
    // as the GUI words them.
    int load(const QString& path) {
        // How the image is loaded into a buffer: once for the run, and with either fill byte when the serial
        // number's place must be told apart from the file's data.
        std::function<LoadResult(CodeBuffer&)> loadInto;
        const int capacity = chip_->capacity;
        if (const std::optional<int> fd = streamDescriptor(path, 0)) {
            QString error;
            const QByteArray data = readWholeDescriptor(*fd, error);
            const QString name = *fd == 0 ? QStringLiteral("standard input") : path;
            if (!error.isEmpty()) {
                errorLine(name + QStringLiteral(": ") + error);
                return ExitUsage;
            }
            std::optional<FileKind> kind = fileKindOfName(path);
            if (!kind) kind = streamKind(data, o_.format);
            if (!kind) {
                errorLine(unknownStreamText.arg(name));
                return ExitUsage;
            }
            imageSha256_ = imageSha256(data);
            loadInto = [bytes = *kind == FileKind::Hex ? withoutByteOrderMark(data) : data, capacity,
                        kind = *kind](CodeBuffer& buffer) { return loadImageData(buffer, bytes, capacity, kind); };
        } else {
            std::optional<FileKind> kind = fileKindOfName(path);
            if (!kind && o_.format) kind = *o_.format == SaveFormat::Hex ? FileKind::Hex : FileKind::Binary;
            if (!kind) {
                errorLine(unknownEndingText.arg(path));
                return ExitUsage;
            }
            loadInto = [path, capacity, kind = *kind](CodeBuffer& buffer) {
                return loadImage(buffer, path, capacity, kind);
            };
        }
        const LoadResult result = loadInto(session_.buffer());
        if (result.status == LoadStatus::Loaded && imageSha256_.isEmpty()) imageSha256_ = fileSha256(path);
        if (result.status == LoadStatus::Loaded && o_.serial) {
            CodeBuffer zeros = session_.buffer(), ones = session_.buffer();
            zeros.setFillByte(0x00);
            ones.setFillByte(0xFF);
            loadInto(zeros);
            loadInto(ones);
            fill_ = fillMask(zeros, ones);
        }
        switch (result.status) {
        case LoadStatus::Loaded:
            break;
        case LoadStatus::DoesNotFit:
            view_.showMessage(sizeMessage(*chip_));
            return ExitUsage;
        case LoadStatus::Error:
            view_.showMessage(openErrorText);
            errorLine(path + QStringLiteral(": ") + result.error);
            return ExitUsage;
        }
        if (session_.buffer().dataEnd() <= 0) {
            view_.showMessage(noFileText);
            return ExitUsage;
        }
        // The window loads such a record as it stands; a script should hear of it.
        if (result.badChecksumLine > 0)
            errorLine(QStringLiteral("warning: %1: line %2: the record's checksum does not match; loaded as "
                                     "it stands")
                          .arg(isStandardStream(path) ? QStringLiteral("standard input") : path)
                          .arg(result.badChecksumLine));
        return ExitOk;
    }

    // The serial numbers' checks, before any port is touched: their place in the image and in the chip, the
    // counter file (made with --serial-start when it does not exist, never when it does), and whether its
    // next number fits.
    int prepareSerial() {
        if (!o_.serial) return ExitOk;
        const SerialField& field = *o_.serial;
        if (const QString problem = field.problemWith(session_.buffer(), fill_, chip_->capacity);
            !problem.isEmpty()) {
            errorLine(problem);
            return ExitUsage;
        }
        const SerialCounter counter(*o_.serialFile);
        QString error;
        const std::optional<quint64> next = o_.serialStart ? o_.serialStart : counter.peek(error);
        if (!next) {
            errorLine(QStringLiteral("--serial-file %1: %2%3")
                          .arg(counter.path(), error,
                               QFileInfo::exists(counter.path())
                                   ? QString()
                                   : QStringLiteral("; start a new counter with --serial-start N")));
            return ExitUsage;
        }
        if (!field.bytes(*next)) {
            errorLine(QStringLiteral("--serial: the next serial number %1 does not fit in %2 bytes")
                          .arg(*next)
                          .arg(field.length));
            return ExitUsage;
        }
        if (o_.serialStart) {
            error = counter.create(*o_.serialStart);
            if (!error.isEmpty()) {
                errorLine(QStringLiteral("--serial-start: cannot start the counter %1: %2%3")
                              .arg(counter.path(), error,
                                   QFileInfo::exists(counter.path())
                                       ? QStringLiteral(" (a counter is never started again: leave out "
                                                        "--serial-start to go on from it)")
                                       : QString()));
                return ExitUsage;
            }
        }
        return ExitOk;
    }

    // An output name the writers can take, where they can write: checked before the programmer is asked.
    int checkOutput(const QString& path) {
        if (streamDescriptor(path, 1) && o_.command == QLatin1String("read") && o_.ports.size() > 1) {
            errorLine(QStringLiteral("read from several ports writes a file per port, not %1").arg(path));
            return ExitUsage;
        }
        if (streamDescriptor(path, 1)) {
            format_ = saveFormatOfName(path);
            if (!format_) format_ = o_.format.value_or(SaveFormat::Hex);
            return ExitOk;
        }
        format_ = saveFormatOfName(path);
        if (!format_) format_ = o_.format;
        if (!format_) {
            errorLine(unknownEndingText.arg(path));
            return ExitUsage;
        }
        const QStringList names = o_.command == QLatin1String("read") && o_.ports.size() > 1
                                      ? portOutputNames(path)
                                      : QStringList{path};
        for (const QString& name : names) {
            if (!folderExists(name)) {
                errorLine(QStringLiteral("%1: the folder %2 does not exist")
                              .arg(name, QFileInfo(name).absolutePath()));
                return ExitUsage;
            }
            if (const QString problem = platform::outputProblem(name); !problem.isEmpty()) {
                errorLine(name + QStringLiteral(": ") + problem);
                return ExitUsage;
            }
        }
        return ExitOk;
    }

    // read on several ports: the file each port's image goes to.
    QStringList portOutputNames(const QString& path) const {
        QStringList names;
        for (const QString& label : portLabels(o_.ports))
            names << nameForPort(path, label);
        return names;
    }

    // Writes the hex view's lines to path (a stream name: that stream) in the output's format: ExitOk, or
    // ExitUsage with the reason in failure.
    int writeImage(const QStringList& lines, const QString& path, QString& failure) {
        if (const std::optional<int> fd = streamDescriptor(path, 1)) {
            const WriterOutput image = *format_ == SaveFormat::Hex ? hexFileText(lines) : binaryImage(lines);
            QString error = image.error;
            if (image.ok()) error = *fd == 1 ? writeWholeStream(stdout, image.bytes)
                                              : writeWholeDescriptor(*fd, image.bytes);
            if (error.isEmpty()) return ExitOk;
            failure = (*fd == 1 ? QStringLiteral("standard output") : path) + QStringLiteral(": ") + error;
            return ExitUsage;
        }
        const QString error = writeLines(lines, path, *format_);
        if (error.isEmpty()) return ExitOk;
        failure = path + QStringLiteral(": ") + error;
        return ExitUsage;
    }

    int convert() {
        const QString out = o_.arguments.value(1);
        if (const int code = checkOutput(out)) return code;
        if (const int code = load(o_.arguments.value(0))) return code;
        // What the GUI shows after an Open, and what its Save writes.
        session_.dispData(chip_->capacity);
        QString failure;
        const int code = writeImage(view_.hexLines(), out, failure);
        if (code != ExitOk) errorLine(failure);
        return code;
    }

    int read() {
        const QString out = o_.arguments.value(0);
        if (const int code = checkOutput(out)) return code;
        return withProgrammer(
            [](Sequencer& s) { s.ReadButClick(); }, Sequencer::Ending::Read, unguardedReplyMs, false,
            [this](PortJob& job, const QString& output, QString& failure) {
                return writeReadImage(job, output, failure);
            });
    }

    // Whether the read that passed read the whole chip: ExitOk, or ExitFailed with the failure set.
    static int wholeRead(PortJob& job, QString& failure) {
        const qsizetype lines = job.session().view().hexLines().size();
        const qsizetype blocks = job.session().buffer().readBlockCount();
        if (lines == blocks) return ExitOk;
        failure = QStringLiteral("the read ended after %1 of %2 blocks").arg(lines).arg(blocks);
        return ExitFailed;
    }

    // After a read that passed, on the port's thread: the image it read, written when it is whole.
    int writeReadImage(PortJob& job, const QString& path, QString& failure) {
        if (wholeRead(job, failure) != ExitOk) {
            failure += QStringLiteral("; nothing written");
            return ExitFailed;
        }
        return writeImage(job.session().view().hexLines(), path, failure);
    }

    // After the read of a blank check: whether every byte of the chip is FF, said as a log line.
    static int judgeBlank(PortJob& job, QString& failure) {
        if (wholeRead(job, failure) != ExitOk) return ExitFailed;
        const BlankCheck check = BlankCheck::of(job.session().buffer().readBuffer());
        job.session().view().log(check.text());
        if (check.blank()) return ExitOk;
        failure = check.text();
        return ExitFailed;
    }

    // Runs the operation on the port, or on each of the ports at once (once, or chip after chip), with what
    // the command has settled: the chip, the lock level, the loaded image.
    int withProgrammer(std::function<void(Sequencer&)> start, Sequencer::Ending wanted,
                       int silenceMs = unguardedReplyMs, bool probe = false,
                       std::function<int(PortJob&, const QString&, QString&)> afterRun = {}) {
        const bool image = o_.command == QLatin1String("program") || o_.command == QLatin1String("verify") ||
                           o_.command == QLatin1String("auto");
        GangPlan plan;
        plan.ports = o_.ports;
        plan.setup.savedLineSettings = settings_.comSeted;
        plan.setup.baud = o_.baud;
        plan.setup.chipIndex = session_.chipIndex();
        plan.setup.lockLevel = session_.lockLevel();
        plan.setup.buffer = session_.buffer();
        plan.setup.start = std::move(start);
        plan.setup.wanted = wanted;
        plan.setup.silenceMs = silenceMs;
        plan.setup.probe = probe;
        if (o_.trace) plan.setup.traceHeader = traceHeader(image);
        plan.operation = o_.command;
        if (chip_) plan.chip = QLatin1String(chip_->type);
        if (image) {
            plan.file = o_.arguments.value(0);
            plan.sha256 = imageSha256_;
        }
        if (o_.command == QLatin1String("read")) plan.output = o_.arguments.value(0);
        plan.operatorName = o_.operatorName;
        plan.serial = o_.serial;
        plan.serialFile = o_.serialFile;
        plan.version = QCoreApplication::applicationVersion();
        if (o_.command == QLatin1String("auto") || o_.command == QLatin1String("lock"))
            plan.lock = session_.lockLevel();
        plan.trace = o_.trace;
        plan.log = o_.log;
        plan.quiet = o_.quiet;
        plan.repeat = o_.repeat;
        plan.logStream = imageToStandardOutput(o_) ? stderr : stdout;
        plan.afterRun = std::move(afterRun);
        if (image)
            plan.checksum = [sum = imageChecksum(session_.buffer().imageBytes())](PortJob&, bool) {
                return std::optional<QString>(sum);
            };
        else if (o_.command == QLatin1String("read") || o_.command == QLatin1String("blank"))
            plan.checksum = [](PortJob& job, bool passed) -> std::optional<QString> {
                if (!passed) return std::nullopt;
                return imageChecksum(job.session().buffer().readBuffer());
            };
        return runOnPorts(plan);
    }

    // The wire trace's header but for the port's line: the tool, the chip, the operation, the file and its
    // checksum, when.
    QStringList traceHeader(bool image) const {
        QStringList lines{QStringLiteral("chipwright-cli %1 wire trace").arg(QLatin1String(CHIPWRIGHT_VERSION))};
        lines << QStringLiteral("chip: %1").arg(chip_ ? QLatin1String(chip_->type) : QLatin1String("none"));
        QString operation = o_.command;
        if (o_.command == QLatin1String("auto") || o_.command == QLatin1String("lock"))
            operation += QStringLiteral(", lock level %1").arg(session_.lockLevel());
        lines << QStringLiteral("operation: ") + operation;
        if (image) {
            const QString file = o_.arguments.value(0);
            lines << QStringLiteral("file: %1, checksum %2")
                         .arg(isStandardStream(file) ? QStringLiteral("standard input") : file,
                              imageChecksum(session_.buffer().imageBytes()));
        }
        lines << startedTraceLine();
        return lines;
    }

    const CliOptions& o_;
    AppSettingsStore store_;
    AppSettings settings_;
    Console console_;
    TerminalView view_;
    HostSession session_;
    const ChipInfo* chip_ = nullptr;
    std::optional<SaveFormat> format_;
    // The SHA-256 of the image file's bytes as they were read.
    QString imageSha256_;
    // Which bytes of the loaded image are only fill (with --serial).
    std::vector<bool> fill_;
};

} // namespace

int runCommand(const CliOptions& options) {
    // The tool reads the window's settings and never writes them: not even an empty key folder is made.
    platform::setRegistryReadOnly(true);
    return CommandRun(options).run();
}
