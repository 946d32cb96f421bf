#include "gangrun.h"

#include "clirun.h"
#include "console.h"
#include "runlog.h"
#include "terminalview.h"

#include "platform/quitsignals.h"
#include "platform/serialdevice.h"
#include "programmer/linktrace.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>

#include <fcntl.h>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

const QString nextChipPrompt = QStringLiteral("Insert the next chip and press Enter (q to stop)");

// Ctrl+C or SIGTERM: routed once per process to whichever run is going on.
std::function<void()>& quitHandler() {
    static std::function<void()> handler;
    return handler;
}

void routeQuitSignals() {
    static const bool routed = [] {
        platform::onQuitSignals([] {
            if (quitHandler()) quitHandler()();
        });
        return true;
    }();
    Q_UNUSED(routed);
}

// The short name a port goes by in log lines and file names: the name without "/dev/" ("ttyUSB0", "pts/3"),
// the last part of a longer path (a /dev/serial/by-id/ link, a socat link elsewhere), or where two ports
// would share that, the whole name.
QStringList portLabels(const QStringList& names) {
    QStringList labels;
    for (const QString& name : names) {
        const bool device =
            name.startsWith(QLatin1String("/dev/")) && !name.startsWith(QLatin1String("/dev/serial/"));
        labels << (device ? name.mid(5) : name.section(QLatin1Char('/'), -1));
    }
    for (qsizetype i = 0; i < labels.size(); ++i)
        if (labels.count(labels[i]) > 1 || labels[i].isEmpty()) {
            const QString shared = labels[i];
            for (qsizetype j = 0; j < labels.size(); ++j)
                if (labels[j] == shared) labels[j] = names[j];
        }
    return labels;
}

// Two names for one device would have two programmers' runs fight over one line.
QString sameDeviceError(const QStringList& names) {
    QStringList devices;
    for (const QString& name : names) {
        const QString path = QString::fromStdString(platform::SerialDevice::devicePath(name.toStdString()));
        const QString canonical = QFileInfo(path).canonicalFilePath();
        devices << (canonical.isEmpty() ? path : canonical);
    }
    for (qsizetype i = 0; i < devices.size(); ++i)
        for (qsizetype j = i + 1; j < devices.size(); ++j)
            if (devices[i] == devices[j])
                return QStringLiteral("--port %1 and --port %2 name the same device").arg(names[i], names[j]);
    return {};
}

// One port's programmer on a thread of its own. Its job and view are made and dropped on that thread.
class PortWorker : public QObject {
    Q_OBJECT
public:
    PortWorker(const GangPlan& plan, int slot, std::optional<QString> port, QString label, Console& console,
               std::unique_ptr<LinkTrace> trace)
        : plan_(plan), slot_(slot), port_(std::move(port)), label_(std::move(label)), console_(console),
          trace_(std::move(trace)) {}

    // How the last round ended on this port, with its log record.
    struct Outcome {
        PortJobResult result;
        RunRecord record;
    };
    // Read on the main thread once roundEnded has come; the lock makes the hand-over plain to see, rather
    // than resting on the order Qt's event queue keeps.
    Outcome outcome() const {
        std::lock_guard lock(mutex_);
        return outcome_;
    }
    const QString& label() const { return label_; }

public slots:
    void runRound() {
        if (!job_) {
            view_ = std::make_unique<TerminalView>(console_, plan_.logStream, plan_.quiet,
                                                   plan_.ports.size() > 1 ? '[' + label_ + "] " : QString(),
                                                   slot_);
            PortJobSetup setup = plan_.setup;
            setup.port = port_;
            job_ = std::make_unique<PortJob>(std::move(setup), *view_, std::move(trace_));
        }
        RunRecord record;
        // In UTC: the zone is looked up where the log line is written, on the main thread alone.
        record.started = QDateTime::currentDateTimeUtc();
        PortJobResult result = job_->run();
        if (result.exit == ExitOk && plan_.afterRun) {
            result.exit = plan_.afterRun(*job_, label_, result.failure);
            if (result.exit != ExitOk) view_->errorLine(QStringLiteral("chipwright-cli: ") + result.failure);
        }

        record.port = job_->portName();
        record.chip = plan_.chip;
        record.operation = plan_.operation;
        record.file = plan_.file;
        record.lock = plan_.lock;
        record.passed = result.exit == ExitOk;
        if (plan_.checksum) record.checksum = plan_.checksum(*job_, record.passed);
        record.failure = result.failure;
        record.elapsedMs = result.elapsedMs;
        {
            std::lock_guard lock(mutex_);
            outcome_ = {result, record};
        }
        emit roundEnded(slot_);
    }

    void interrupt() {
        if (job_) job_->interrupt();
    }

    // Closes the port in order.
    void stop() {
        job_.reset();
        view_.reset();
    }

signals:
    void roundEnded(int slot);

private:
    const GangPlan& plan_;
    int slot_;
    std::optional<QString> port_;
    QString label_;
    Console& console_;
    std::unique_ptr<LinkTrace> trace_;
    std::unique_ptr<TerminalView> view_;
    std::unique_ptr<PortJob> job_;
    mutable std::mutex mutex_;
    Outcome outcome_;
};

// Waits, with the event loop running, for a line on standard input: the line, or nothing at its end, on an
// error, or when stop() is called (Ctrl+C).
class LineWait {
public:
    std::optional<QByteArray> next() {
        for (;;) {
            if (const qsizetype end = pending_.indexOf('\n'); end >= 0) {
                const QByteArray line = pending_.left(end);
                pending_.remove(0, end + 1);
                return line;
            }
            if (ended_ || stopped_) return std::nullopt;
            if (::fcntl(STDIN_FILENO, F_GETFD) < 0) return std::nullopt;
            QEventLoop loop;
            loop_ = &loop;
            QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
            QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
                char buffer[256];
                const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
                if (n > 0)
                    pending_.append(buffer, n);
                else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                    ended_ = true;
                loop.quit();
            });
            loop.exec();
            loop_ = nullptr;
            if (ended_ && !pending_.isEmpty() && !pending_.endsWith('\n')) pending_ += '\n';
        }
    }
    void stop() {
        stopped_ = true;
        if (loop_) loop_->quit();
    }

private:
    QByteArray pending_;
    bool ended_ = false;
    bool stopped_ = false;
    QEventLoop* loop_ = nullptr;
};

struct Tally {
    int passed = 0;
    int failed = 0;
    qint64 elapsedMs = 0;
    QString lastFailure;
};

QString seconds(qint64 ms) {
    return QStringLiteral("%1 s").arg(static_cast<double>(ms) / 1000.0, 0, 'f', 1);
}

// The table after a run on several ports: each port's result, time and failure.
QStringList summaryTable(const std::vector<std::unique_ptr<PortWorker>>& workers,
                         const std::vector<Tally>& tallies, bool repeat) {
    qsizetype width = 4;
    for (const auto& w : workers)
        width = std::max(width, w->label().size());
    QStringList lines;
    if (!repeat) {
        lines << QStringLiteral("%1  %2  %3  %4")
                     .arg(QStringLiteral("Port"), -width)
                     .arg(QStringLiteral("Result"), -6)
                     .arg(QStringLiteral("Time"), 8)
                     .arg(QStringLiteral("Failure"))
                     .trimmed();
        for (const auto& w : workers) {
            const PortJobResult result = w->outcome().result;
            lines << QStringLiteral("%1  %2  %3  %4")
                         .arg(w->label(), -width)
                         .arg(result.exit == ExitOk ? QStringLiteral("passed") : QStringLiteral("FAILED"), -6)
                         .arg(seconds(result.elapsedMs), 8)
                         .arg(result.exit == ExitOk ? QString() : result.failure)
                         .trimmed();
        }
        return lines;
    }
    lines << QStringLiteral("%1  %2  %3  %4  %5")
                 .arg(QStringLiteral("Port"), -width)
                 .arg(QStringLiteral("Passed"))
                 .arg(QStringLiteral("Failed"))
                 .arg(QStringLiteral("Time"), 8)
                 .arg(QStringLiteral("Last failure"));
    for (size_t i = 0; i < workers.size(); ++i)
        lines << QStringLiteral("%1  %2  %3  %4  %5")
                     .arg(workers[i]->label(), -width)
                     .arg(tallies[i].passed, 6)
                     .arg(tallies[i].failed, 6)
                     .arg(seconds(tallies[i].elapsedMs), 8)
                     .arg(tallies[i].lastFailure)
                     .trimmed();
    return lines;
}

} // namespace

QString nameForPort(const QString& path, QString label) {
    label.replace(QLatin1Char('/'), QLatin1Char('_'));
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1) return path + '-' + label;
    return path.left(dot) + '-' + label + path.mid(dot);
}

namespace {

// The run of a plan: the ports' threads and workers, the rounds, the counts, the log.
class GangRun {
public:
    explicit GangRun(const GangPlan& plan)
        : plan_(plan), several_(plan.ports.size() > 1),
          labels_(several_ ? portLabels(plan.ports) : QStringList{plan.ports.value(0)}),
          count_(several_ ? static_cast<int>(plan.ports.size()) : 1),
          console_(stdout, stderr, plan.quiet ? 0 : count_), tallies_(static_cast<size_t>(count_)) {}

    int run() {
        std::vector<std::unique_ptr<LinkTrace>> traces(static_cast<size_t>(count_));
        if (const int code = prepare(traces)) return code;
        start(traces);
        routeQuitSignals();
        quitHandler() = [this] {
            stopping_ = true;
            for (auto& w : workers_)
                QMetaObject::invokeMethod(w.get(), "interrupt", Qt::QueuedConnection);
            input_.stop();
        };
        for (;;) {
            runRound();
            if (!plan_.repeat || stopping_) break;
            const auto [passed, failed] = totals();
            console_.line(stderr, QStringLiteral("Passed %1, failed %2").arg(passed).arg(failed));
            console_.line(stderr, nextChipPrompt);
            const std::optional<QByteArray> answer = input_.next();
            if (!answer || answer->trimmed().toLower() == "q") break;
        }
        quitHandler() = nullptr;
        stop();
        return report();
    }

private:
    int usage(const QString& text) {
        console_.line(stderr, QStringLiteral("chipwright-cli: ") + text);
        return ExitUsage;
    }

    // Everything that can be refused is refused before any port is touched: the ports, the traces, the log.
    int prepare(std::vector<std::unique_ptr<LinkTrace>>& traces) {
        if (several_)
            if (const QString error = sameDeviceError(plan_.ports); !error.isEmpty()) return usage(error);
        if (plan_.trace) {
            const bool shared = *plan_.trace == QLatin1String("-");
            for (int i = 0; i < count_; ++i) {
                const QString name =
                    several_ && !shared ? nameForPort(*plan_.trace, labels_[i]) : *plan_.trace;
                QString error;
                std::unique_ptr<LinkTrace>& trace = traces[static_cast<size_t>(i)];
                trace = LinkTrace::open(name, error);
                if (!trace) return usage(QStringLiteral("cannot write the trace: ") + error);
                if (several_ && shared) trace->setLabel('[' + labels_[i] + "] ");
            }
        }
        QString error;
        if (plan_.log && !log_.open(*plan_.log, error))
            return usage(QStringLiteral("cannot write the log %1: %2").arg(*plan_.log, error));
        return ExitOk;
    }

    void start(std::vector<std::unique_ptr<LinkTrace>>& traces) {
        for (int i = 0; i < count_; ++i) {
            auto thread = std::make_unique<QThread>();
            std::optional<QString> port;
            if (!plan_.ports.isEmpty()) port = plan_.ports[i];
            std::unique_ptr<LinkTrace>& trace = traces[static_cast<size_t>(i)];
            if (trace) trace->moveToThread(thread.get());
            auto worker =
                std::make_unique<PortWorker>(plan_, i, port, labels_[i], console_, std::move(trace));
            worker->moveToThread(thread.get());
            thread->start();
            workers_.push_back(std::move(worker));
            threads_.push_back(std::move(thread));
        }
    }

    // Every port runs once; each port's run is counted and logged as soon as it ends.
    void runRound() {
        QEventLoop loop;
        int running = count_;
        std::vector<QMetaObject::Connection> connections;
        for (size_t i = 0; i < workers_.size(); ++i) {
            PortWorker* w = workers_[i].get();
            connections.push_back(QObject::connect(
                w, &PortWorker::roundEnded, &loop,
                [this, &loop, &running, w, i](int) {
                    ended(tallies_[i], w->outcome());
                    if (--running == 0) loop.quit();
                },
                Qt::QueuedConnection));
            QMetaObject::invokeMethod(w, "runRound", Qt::QueuedConnection);
        }
        loop.exec();
        for (const auto& c : connections)
            QObject::disconnect(c);
    }

    void ended(Tally& t, const PortWorker::Outcome& outcome) {
        (outcome.result.exit == ExitOk ? t.passed : t.failed) += 1;
        t.elapsedMs += outcome.result.elapsedMs;
        if (outcome.result.exit != ExitOk) t.lastFailure = outcome.result.failure;
        QString error;
        if (plan_.log && !log_.append(outcome.record, error) && !logFailed_) {
            logFailed_ = true;
            console_.line(
                stderr, QStringLiteral("chipwright-cli: cannot write the log %1: %2").arg(*plan_.log, error));
        }
    }

    // Closes every port in order and ends the threads.
    void stop() {
        for (size_t i = 0; i < workers_.size(); ++i) {
            QMetaObject::invokeMethod(workers_[i].get(), "stop", Qt::BlockingQueuedConnection);
            threads_[i]->quit();
            threads_[i]->wait();
        }
        console_.clearBars();
    }

    std::pair<int, int> totals() const {
        int passed = 0;
        int failed = 0;
        for (const Tally& t : tallies_) {
            passed += t.passed;
            failed += t.failed;
        }
        return {passed, failed};
    }

    // The summary and the exit code.
    int report() {
        const auto [passed, failed] = totals();
        if (several_ && !plan_.quiet)
            for (const QString& line : summaryTable(workers_, tallies_, plan_.repeat))
                console_.line(plan_.logStream, line);
        if (plan_.repeat)
            console_.line(stderr, QStringLiteral("Total: passed %1, failed %2").arg(passed).arg(failed));
        if (logFailed_) return ExitFailed;
        if (!several_ && !plan_.repeat) return workers_.front()->outcome().result.exit;
        return failed == 0 ? ExitOk : ExitFailed;
    }

    const GangPlan& plan_;
    const bool several_;
    const QStringList labels_;
    const int count_;
    Console console_;
    RunLog log_;
    std::vector<std::unique_ptr<PortWorker>> workers_;
    std::vector<std::unique_ptr<QThread>> threads_;
    std::vector<Tally> tallies_;
    LineWait input_;
    bool stopping_ = false;
    bool logFailed_ = false;
};

} // namespace

int runOnPorts(const GangPlan& plan) {
    return GangRun(plan).run();
}

#include "gangrun.moc"
