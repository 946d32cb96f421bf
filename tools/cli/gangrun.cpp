#include "gangrun.h"

#include "clirun.h"
#include "console.h"
#include "linewait.h"
#include "portworker.h"
#include "runlog.h"
#include "terminalview.h"

#include "platform/quitsignals.h"
#include "platform/serialdevice.h"
#include "programmer/linktrace.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QThread>

#include <memory>
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
        console_.toolError(text);
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
                // On standard error the trace's lines go through the console, above the bars, never into them.
                if (shared) trace->setSink([this](const QByteArray& line) {
                    console_.line(stderr, QString::fromUtf8(line));
                });
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
            console_.toolError(QStringLiteral("cannot write the log %1: %2").arg(*plan_.log, error));
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
