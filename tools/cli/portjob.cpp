#include "portjob.h"

#include "clirun.h"
#include "linerate.h"
#include "portopenerror.h"

#include "platform/netaddress.h"
#include "production/runend.h"
#include "platform/registry.h"
#include "platform/serialdevice.h"
#include "programmer/comportlink.h"
#include "programmer/hostsession.h"
#include "programmer/linktrace.h"
#include "serial/comport.h"
#include "serial/comsettings.h"
#include "serial/ecomport.h"
#include "shell/portbringup.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>

namespace {

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

// Why a run failed, in the window's words: what it logged after the last step it started ("... Please Wait
// !"), on one line.
QString failureWords(const QStringList& lines) {
    QStringList words;
    for (const QString& line : lines) {
        if (line.contains(QLatin1String("Please Wait"))) {
            words.clear();
            continue;
        }
        const QString simplified = line.simplified();
        if (!simplified.isEmpty()) words << simplified;
    }
    return words.isEmpty() ? QStringLiteral("no answer from the programmer") : words.join(QLatin1Char(' '));
}

} // namespace

struct PortJob::Parts {
    Parts(PortJobSetup s, TerminalView& v, std::unique_ptr<LinkTrace> t)
        : setup(std::move(s)), view(v), session(v), trace(std::move(t)) {}

    PortJobSetup setup;
    TerminalView& view;
    HostSession session;
    std::unique_ptr<LinkTrace> trace;
    QTimer silence;
    TComPort port;
    ComPortLink line{port};
    TimedLink timed{line, [this] { silence.start(); }};
    TracingLink link{timed};
    Sequencer sequencer{session, link};

    // The run under way.
    QEventLoop* loop = nullptr;
    std::optional<bool> outcome;
    QString failure;
    // The failure was the line's (a write or read of the port failed), not the programmer's answer.
    bool lineFailed = false;
    bool interrupted = false;

    // A transfer on the port failed: the line broke while the run was under way.
    void lineFailure(const std::exception& e) {
        if (!failure.isEmpty()) return;
        const auto* port = dynamic_cast<const EComPort*>(&e);
        failure = port ? withSystemWords(port->Message(), port->SystemErrorCode()) : QString::fromUtf8(e.what());
        lineFailed = true;
    }

    void finish() {
        if (loop) QTimer::singleShot(0, loop, &QEventLoop::quit);
    }
    int open();
    void close();
    QString endedConnection();
};

// For a network port whose connection ended under the run: the system's words for how it ended (the
// programmer's silence and a dropped connection look alike to the link). Empty otherwise.
QString PortJob::Parts::endedConnection() {
    if (!port.Connected() || !platform::isNetworkPortName(port.Port().toStdString())) return {};
    try {
        port.ModemSignals(); // fails once the connection is gone
    } catch (const EComPort& e) {
        if (e.SystemErrorCode() > 0)
            return QStringLiteral("the connection to %1 ended: %2")
                .arg(port.Port(), QString::fromLocal8Bit(platform::networkErrorText(e.SystemErrorCode()).c_str()));
    }
    return {};
}

PortJob::PortJob(PortJobSetup setup, TerminalView& view, std::unique_ptr<LinkTrace> trace)
    : d_(std::make_unique<Parts>(std::move(setup), view, std::move(trace))) {
    Parts& d = *d_;
    d.session.setChipIndex(d.setup.chipIndex);
    d.session.setLockLevel(d.setup.lockLevel);
    d.session.showStartupChip();
    d.session.buffer() = d.setup.buffer;
    if (d.trace) {
        d.trace->observe(&d.sequencer);
        d.link.setTrace(d.trace.get());
        d.port.OnAfterOpen = [&d](TCustomComPort*) {
            d.trace->portOpened();
            QStringList header = d.setup.traceHeader;
            header.insert(std::min<qsizetype>(header.size(), 1), portTraceLine(d.port));
            d.trace->header(header);
        };
    }
    d.silence.setSingleShot(true);
    d.silence.setInterval(d.setup.silenceMs);

    QObject::connect(&d.sequencer, &Sequencer::operationEnded, &d.silence, [&d](bool success) {
        if (!d.outcome) d.outcome = success;
        d.finish();
    });
    QObject::connect(&d.silence, &QTimer::timeout, &d.silence, [&d] {
        if (d.outcome || !d.failure.isEmpty() || !d.loop) return;
        if (d.sequencer.DOGTimer4().enabled()) {
            d.silence.start();
            return;
        }
        if (d.trace) d.trace->note(QStringLiteral("no answer within %1 ms").arg(d.setup.silenceMs));
        if (d.setup.probe) {
            d.sequencer.Timer2Timer();
            d.outcome = false;
            d.finish();
        } else {
            d.sequencer.DOGTimer4Timer();
        }
    });
}

PortJob::~PortJob() {
    d_->close();
    if (d_->trace) d_->trace->observe(nullptr);
}

HostSession& PortJob::session() {
    return d_->session;
}

QString PortJob::portName() const {
    return d_->port.Port();
}

// Opens the port with the saved line settings and the given name: ExitOk, or the failure noted.
int PortJob::Parts::open() {
    if (port.Connected()) return ExitOk;
    if (setup.savedLineSettings) {
        try {
            port.RestoreSettings(RegistryStore, portSettingsLocation);
        } catch (const EComPort& e) {
            failure = QStringLiteral("cannot read the port settings: ") + e.Message();
            view.toolError(failure);
            return ExitFailed;
        }
    }
    if (setup.port) port.SetPort(*setup.port);
    if (setup.baud) setLineRate(port, *setup.baud);
    port.OnRxChar = [this](TCustomComPort*, int count) {
        try {
            sequencer.ComPortRxChar(count);
        } catch (const std::exception& e) {
            // The reply could not be answered: the line failed while writing.
            lineFailure(e);
            finish();
        }
    };
    try {
        port.Connect();
    } catch (const EComPort& e) {
        port.OnRxChar = nullptr;
        const QString device =
            QString::fromStdString(platform::SerialDevice::devicePath(port.Port().toStdString()));
        const QString text = portOpenErrorText(port.Port(), device, e.SystemErrorCode(), e.Message());
        view.errorLine(text);
        // The reason is the first line; the lines after it are advice for the terminal.
        const QString reason = text.section(QLatin1Char('\n'), 0, 0);
        failure = reason.startsWith(Console::toolPrefix()) ? reason.mid(Console::toolPrefix().size()) : reason;
        return ExitFailed;
    }
    return ExitOk;
}

void PortJob::Parts::close() {
    port.OnRxChar = nullptr;
    try {
        port.Disconnect();
    } catch (const std::exception& e) {
        view.toolError(QString::fromUtf8(e.what()));
    }
}

void PortJob::interrupt() {
    Parts& d = *d_;
    if (!d.loop) return;
    d.interrupted = true;
    d.finish();
}

// Starts the operation and runs the event loop until the sequencer reports its end, the line fails, or a
// reply that no watchdog covers stays out. probe: the silence is the ready check's "Programmer  Not  Found
// !"; otherwise it is reported as the watchdog reports silence. The limit counts from the last frame the host
// sent: bytes from a chatty line that are not the awaited reply never extend it. A run passes only when it
// ends the way the command asked for (an Auto run with its Lock).
PortJobResult PortJob::run() {
    Parts& d = *d_;
    QElapsedTimer clock;
    clock.start();
    d.outcome.reset();
    d.failure.clear();
    d.lineFailed = false;
    d.interrupted = false;
    d.view.startRun();

    PortJobResult result;
    auto done = [&](int exit) {
        result.exit = exit;
        result.elapsedMs = clock.elapsed();
        if (exit != ExitOk) {
            // A line that hung up during the run (an adapter unplugged) is the port's fault, whatever the
            // sequencer made of the silence that followed.
            if (exit == ExitFailed && !result.portError && d.port.DeviceHungUp()) {
                result.portError = true;
                result.failure = withSystemWords(result.failure, EIO);
            }
            d.sequencer.cancelRun();
            d.close();
        }
        return result;
    };
    if (d.open() != ExitOk) {
        result.failure = d.failure;
        result.portError = result.openFailed = true;
        return done(ExitFailed);
    }

    if (d.setup.beforeStart) {
        result.failure = d.setup.beforeStart(d.session.buffer());
        if (!result.failure.isEmpty()) {
            result.stationFault = true;
            d.view.toolError(result.failure);
            return done(ExitFailed);
        }
    }

    QEventLoop loop;
    d.loop = &loop;
    try {
        d.setup.start(d.sequencer);
        if (!d.view.messages().isEmpty()) {
            d.loop = nullptr;
            result.failure = d.view.messages().constLast();
            return done(ExitUsage); // refused before anything was sent
        }
        d.silence.start();
        if (!d.outcome && d.failure.isEmpty()) loop.exec();
    } catch (const std::exception& e) {
        d.lineFailure(e);
    }
    d.loop = nullptr;
    d.silence.stop();
    d.view.clearProgress();

    if (!d.failure.isEmpty()) {
        result.failure = d.failure;
        result.portError = d.lineFailed;
        d.view.toolError(d.failure);
        return done(ExitFailed);
    }
    if (d.interrupted) {
        // The operation is abandoned: the port closes in order and the next run starts afresh.
        d.sequencer.cancelRun();
        result.interrupted = true;
        result.failure = QStringLiteral("interrupted; the chip may hold a partial result");
        d.view.toolError(result.failure);
        return done(ExitFailed);
    }
    if (d.outcome.value_or(false)) {
        if (d.sequencer.lastEnding() == d.setup.wanted) return done(ExitOk);
        result.failure =
            QStringLiteral("the programmer ended the run with \"%1\" where \"%2\" was due; the chip may hold "
                           "a partial result")
                .arg(Sequencer::endingText(d.sequencer.lastEnding()), Sequencer::endingText(d.setup.wanted));
        d.view.toolError(result.failure);
        return done(ExitFailed);
    }
    const QString ended = d.sequencer.lastEnding() == Sequencer::Ending::NoAnswer ? d.endedConnection() : QString();
    if (!ended.isEmpty()) d.view.toolError(ended);
    // Quiet runs keep the log to themselves unless it explains a failure.
    d.view.releaseHeldLines();
    // The reason goes to standard error on its own line, whichever stream took the log.
    result.failure = failureWords(d.view.runLines());
    d.view.toolError(d.sequencer.lastEnding() == Sequencer::Ending::UnexpectedReply
                         ? d.sequencer.unexpectedReplyText()
                         : result.failure);
    return done(ExitFailed);
}
