#include "clirun.h"

#include "imagepipes.h"
#include "portopenerror.h"
#include "portscan.h"
#include "terminalview.h"

#include "buffer/dumpline.h"
#include "buffer/filecommands.h"
#include "buffer/filenames.h"
#include "platform/filenames.h"
#include "platform/quitsignals.h"
#include "platform/registry.h"
#include "platform/serialdevice.h"
#include "programmer/chipcatalogue.h"
#include "programmer/comportlink.h"
#include "programmer/hostsession.h"
#include "programmer/linktrace.h"
#include "programmer/sequencer.h"
#include "serial/comport.h"
#include "serial/comsettings.h"
#include "serial/ecomport.h"
#include "shell/appsettings.h"
#include "shell/appsettingsstore.h"
#include "shell/portbringup.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

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

// Ctrl+C or SIGTERM while the programmer works: ends the wait so that the port is closed in order.
std::function<void()>& interruptHandler() {
    static std::function<void()> handler;
    return handler;
}

void errorLine(const QString& text) {
    // File names in the text are given back as the bytes they were given as.
    std::fputs(platform::fileNameBytes("chipwright-cli: " + text + '\n').constData(), stderr);
    std::fflush(stderr);
}

// The programmer's line as the tool uses it: every frame the host sends starts the wait for its answer anew;
// bytes that arrive do not.
class TimedLink : public LinkPort {
public:
    TimedLink(LinkPort& line, std::function<void()> sent) : line_(line), sent_(std::move(sent)) {}
    void WriteBytes(std::span<const quint8> bytes) override {
        line_.WriteBytes(bytes);
        sent_();
    }
    int ReadBytes(std::span<quint8> bytes) override { return line_.ReadBytes(bytes); }
    int InputQueueCount() override { return line_.InputQueueCount(); }

private:
    LinkPort& line_;
    std::function<void()> sent_;
};

void outLine(const QString& text) {
    std::fputs((text + '\n').toUtf8().constData(), stdout);
}

const QString unknownEndingText =
    QStringLiteral("%1: the name must end in .hex, .ihx, .ihex or .bin, or give --format hex|bin");

// read - and convert IN -: the image takes standard output, so the log lines go to standard error.
bool imageToStandardOutput(const CliOptions& o) {
    const int outputArgument = o.command == QLatin1String("read")      ? 0
                               : o.command == QLatin1String("convert") ? 1
                                                                       : -1;
    return outputArgument >= 0 && isStandardStream(o.arguments.value(outputArgument));
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
          settings_(AppSettings::read(store_)),
          view_(imageToStandardOutput(options) ? stderr : stdout, stderr, options.quiet), session_(view_) {}

    int run() {
        if (o_.trace) {
            QString error;
            trace_ = LinkTrace::open(*o_.trace, error);
            if (!trace_) {
                errorLine(QStringLiteral("cannot write the trace: ") + error);
                return ExitUsage;
            }
        }
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
        if (c == QLatin1String("lock")) {
            if (const int code = selectLock()) return code;
            return withProgrammer([](Sequencer& s) { s.sendLock(); }, Sequencer::Ending::Locked);
        }
        if (const int code = load(o_.arguments.value(0))) return code;
        if (c == QLatin1String("program"))
            return withProgrammer([](Sequencer& s) { s.ProgramButClick(); }, Sequencer::Ending::Programmed);
        if (c == QLatin1String("verify"))
            return withProgrammer([](Sequencer& s) { s.VerifyButClick(); }, Sequencer::Ending::Verified);
        if (const int code = selectLock()) return code;
        return withProgrammer([](Sequencer& s) { s.AutoProButClick(); }, Sequencer::Ending::Locked);
    }

private:
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
        std::fflush(stdout);
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
        std::fflush(stdout);
        return ExitOk;
    }

    // Every port at once, with the saved line settings: exit 0 when a programmer answered on any of them.
    int probe(const QStringList& names) {
        const auto results = probePorts(
            names,
            [this](TCustomComPort& port) {
                if (settings_.comSeted) port.RestoreSettings(RegistryStore, portSettingsLocation);
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
        std::fflush(stdout);
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

    // Loads path ("-": standard input) for the chip as the GUI's Open does; refusals as the GUI words them.
    int load(const QString& path) {
        LoadResult result;
        if (isStandardStream(path)) {
            QString error;
            const QByteArray data = readWholeStream(stdin, error);
            if (!error.isEmpty()) {
                errorLine(QStringLiteral("standard input: ") + error);
                return ExitUsage;
            }
            result = loadImageData(session_.buffer(), data, chip_->capacity, streamKind(data, o_.format));
        } else {
            std::optional<FileKind> kind = fileKindOfName(path);
            if (!kind && o_.format) kind = *o_.format == SaveFormat::Hex ? FileKind::Hex : FileKind::Binary;
            if (!kind) {
                errorLine(unknownEndingText.arg(path));
                return ExitUsage;
            }
            result = loadImage(session_.buffer(), path, chip_->capacity, *kind);
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
        return ExitOk;
    }

    // An output name the writers can take, in a folder that exists: checked before the programmer is asked.
    int checkOutput(const QString& path) {
        if (isStandardStream(path)) {
            format_ = o_.format.value_or(SaveFormat::Hex);
            return ExitOk;
        }
        format_ = saveFormatOfName(path);
        if (!format_) format_ = o_.format;
        if (!format_) {
            errorLine(unknownEndingText.arg(path));
            return ExitUsage;
        }
        const QFileInfo info(path);
        if (!folderExists(path)) {
            errorLine(QStringLiteral("%1: the folder %2 does not exist").arg(path, info.absolutePath()));
            return ExitUsage;
        }
        return ExitOk;
    }

    int writeOutput(const QString& path) {
        if (isStandardStream(path)) {
            const WriterOutput image =
                *format_ == SaveFormat::Hex ? hexFileText(view_.hexLines()) : binaryImage(view_.hexLines());
            const QString error = image.ok() ? writeWholeStream(stdout, image.bytes) : image.error;
            if (error.isEmpty()) return ExitOk;
            errorLine(QStringLiteral("standard output: ") + error);
            return ExitUsage;
        }
        const QString error = writeLines(view_.hexLines(), path, *format_);
        if (error.isEmpty()) return ExitOk;
        errorLine(path + QStringLiteral(": ") + error);
        return ExitUsage;
    }

    int convert() {
        const QString out = o_.arguments.value(1);
        if (const int code = checkOutput(out)) return code;
        if (const int code = load(o_.arguments.value(0))) return code;
        // What the GUI shows after an Open, and what its Save writes.
        session_.dispData(chip_->capacity);
        return writeOutput(out);
    }

    int read() {
        const QString out = o_.arguments.value(0);
        if (const int code = checkOutput(out)) return code;
        const int result = withProgrammer([](Sequencer& s) { s.ReadButClick(); }, Sequencer::Ending::Read);
        if (result != ExitOk) return result;
        const qsizetype blocks = static_cast<qsizetype>(session_.buffer().readBuffer().size() / blockSize);
        if (view_.hexLines().size() != blocks) {
            errorLine(QStringLiteral("the read ended after %1 of %2 blocks; nothing written")
                          .arg(view_.hexLines().size())
                          .arg(blocks));
            return ExitFailed;
        }
        return writeOutput(out);
    }

    // Opens the port, starts the operation and runs the event loop until the sequencer reports its end, the
    // line fails, or a reply that no watchdog covers stays out. probe: the silence is the ready check's
    // "Programmer  Not  Found !"; otherwise it is reported as the watchdog reports silence. The limit counts
    // from the last frame the host sent: bytes from a chatty line that are not the awaited reply never extend
    // it. A run passes only when it ends the way the command asked for (an Auto run with its Lock).
    int withProgrammer(const std::function<void(Sequencer&)>& start, Sequencer::Ending wanted,
                       int silenceMs = unguardedReplyMs, bool probe = false) {
        QTimer silence;
        silence.setSingleShot(true);
        silence.setInterval(silenceMs);
        TComPort port;
        ComPortLink line(port);
        TimedLink timed(line, [&silence] { silence.start(); });
        TracingLink link(timed);
        Sequencer sequencer(session_, link);
        if (trace_) {
            trace_->observe(&sequencer);
            link.setTrace(trace_.get());
            port.OnAfterOpen = [this](TCustomComPort*) { trace_->portOpened(); };
        }
        // The trace outlives this run's sequencer.
        const std::unique_ptr<LinkTrace, void (*)(LinkTrace*)> unobserve(trace_.get(), [](LinkTrace* t) {
            if (t) t->observe(nullptr);
        });

        if (settings_.comSeted) {
            try {
                port.RestoreSettings(RegistryStore, portSettingsLocation);
            } catch (const EComPort& e) {
                errorLine(QStringLiteral("cannot read the port settings: ") + e.Message());
                return ExitFailed;
            }
        }
        if (o_.port) port.SetPort(*o_.port);

        QEventLoop loop;
        std::optional<bool> outcome;
        QString failure;
        bool interrupted = false;
        auto finish = [&] { QTimer::singleShot(0, &loop, &QEventLoop::quit); };
        QObject::connect(&sequencer, &Sequencer::operationEnded, &loop, [&](bool success) {
            if (!outcome) outcome = success;
            finish();
        });

        QObject::connect(&silence, &QTimer::timeout, &loop, [&] {
            if (outcome || !failure.isEmpty()) return;
            if (sequencer.DOGTimer4().enabled()) {
                silence.start();
                return;
            }
            if (probe) {
                sequencer.Timer2Timer();
                outcome = false;
                finish();
            } else {
                sequencer.DOGTimer4Timer();
            }
        });

        port.OnRxChar = [&](TCustomComPort*, int count) {
            try {
                sequencer.ComPortRxChar(count);
            } catch (const std::exception& e) {
                // The reply could not be answered: the line failed while writing.
                if (failure.isEmpty()) failure = QString::fromUtf8(e.what());
                finish();
            }
        };

        try {
            port.Connect();
        } catch (const EComPort& e) {
            const QString device =
                QString::fromStdString(platform::SerialDevice::devicePath(port.Port().toStdString()));
            std::fputs((portOpenErrorText(port.Port(), device, e.SystemErrorCode(), e.Message()) + '\n')
                           .toUtf8()
                           .constData(),
                       stderr);
            return ExitFailed;
        }

        interruptHandler() = [&] {
            interrupted = true;
            finish();
        };
        static const bool signalsRouted = [] {
            platform::onQuitSignals([] {
                if (interruptHandler()) interruptHandler()();
            });
            return true;
        }();
        Q_UNUSED(signalsRouted);

        try {
            start(sequencer);
            if (!view_.messages().isEmpty()) {
                interruptHandler() = nullptr;
                disconnect(port);
                return ExitUsage; // refused before anything was sent
            }
            silence.start();
            if (!outcome) loop.exec();
        } catch (const std::exception& e) {
            failure = QString::fromUtf8(e.what());
        }
        interruptHandler() = nullptr;
        view_.clearProgress();
        disconnect(port);

        if (!failure.isEmpty()) {
            errorLine(failure);
            return ExitFailed;
        }
        if (interrupted) {
            errorLine(QStringLiteral("interrupted; the chip may hold a partial result"));
            return ExitFailed;
        }
        if (outcome.value_or(false)) {
            if (sequencer.lastEnding() == wanted) return ExitOk;
            errorLine(
                QStringLiteral("the programmer ended the run with \"%1\" where \"%2\" was due; the chip "
                               "may hold a partial result")
                    .arg(Sequencer::endingText(sequencer.lastEnding()), Sequencer::endingText(wanted)));
            return ExitFailed;
        }
        if (sequencer.lastEnding() == Sequencer::Ending::UnexpectedReply && !o_.quiet)
            errorLine(sequencer.unexpectedReplyText());
        // Quiet runs keep the log to themselves unless it explains a failure.
        for (const QString& line : view_.heldLines())
            std::fputs((line + '\n').toUtf8().constData(), stderr);
        return ExitFailed;
    }

    static void disconnect(TComPort& port) {
        port.OnRxChar = nullptr;
        try {
            port.Disconnect();
        } catch (const std::exception& e) {
            errorLine(QString::fromUtf8(e.what()));
        }
    }

    const CliOptions& o_;
    AppSettingsStore store_;
    AppSettings settings_;
    TerminalView view_;
    HostSession session_;
    const ChipInfo* chip_ = nullptr;
    std::optional<SaveFormat> format_;
    std::unique_ptr<LinkTrace> trace_;
};

} // namespace

int runCommand(const CliOptions& options) {
    // The tool reads the window's settings and never writes them: not even an empty key folder is made.
    platform::setRegistryReadOnly(true);
    return CommandRun(options).run();
}
