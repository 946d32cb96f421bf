#include "gangrun.h"

#include "clirun.h"
#include "console.h"
#include "linewait.h"
#include "portworker.h"
#include "terminalview.h"

#include "platform/quitsignals.h"
#include "platform/serialdevice.h"
#include "production/nextchipanswer.h"
#include "production/runlog.h"
#include "production/stationbook.h"
#include "programmer/linktrace.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QThread>

#include <memory>
#include <vector>

namespace {

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

// The run of a plan: the ports' threads and workers, the rounds, the books, the log.
class GangRun {
public:
    explicit GangRun(const GangPlan& plan)
        : plan_(plan), several_(plan.ports.size() > 1),
          labels_(several_ ? portLabels(plan.ports) : QStringList{plan.ports.value(0)}),
          count_(several_ ? static_cast<int>(plan.ports.size()) : 1),
          console_(stdout, stderr, plan.quiet ? 0 : count_),
          book_(several_ || !labels_[0].isEmpty() ? labels_ : QStringList{QStringLiteral("the saved port")}),
          log_(LogSession::make(plan.operatorName, plan.version)) {}

    int run() {
        std::vector<std::unique_ptr<LinkTrace>> traces(static_cast<size_t>(count_));
        if (const int code = prepare(traces)) return code;
        start(traces);
        routeQuitSignals();
        quitHandler() = [this] {
            if (!stopping_) console_.endInterruptedLine();
            stopping_ = true;
            for (auto& w : workers_)
                QMetaObject::invokeMethod(w.get(), "interrupt", Qt::QueuedConnection);
            input_.stop();
        };
        for (;;) {
            runRound();
            if (!plan_.repeat || stopping_ || halted_) break;
            if (!book_.anyInSession()) {
                console_.toolError(QStringLiteral("no port is left in this session"));
                break;
            }
            if (!nextChipWanted()) break;
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

    // Every port still in the session runs once; each port's run is counted and logged as soon as it ends.
    void runRound() {
        book_.startRound();
        QEventLoop loop;
        int running = 0;
        std::vector<QMetaObject::Connection> connections;
        for (int i = 0; i < count_; ++i) {
            if (!book_.inSession(i)) continue;
            PortWorker* w = workers_[static_cast<size_t>(i)].get();
            ++running;
            connections.push_back(QObject::connect(
                w, &PortWorker::roundEnded, &loop,
                [this, &loop, &running, w, i](int) {
                    ended(i, w->outcome());
                    if (--running == 0) loop.quit();
                },
                Qt::QueuedConnection));
            QMetaObject::invokeMethod(w, "runRound", Qt::QueuedConnection, Q_ARG(int, book_.round()));
        }
        if (running > 0) loop.exec();
        for (const auto& c : connections)
            QObject::disconnect(c);
    }

    void ended(int slot, const PortWorker::Outcome& outcome) {
        const PortJobResult& result = outcome.result;
        RunEnd end;
        end.verdict = outcome.record.verdict;
        end.openFailed = result.openFailed;
        end.failure = result.failure;
        end.elapsedMs = result.elapsedMs;
        if (book_.record(slot, end)) console_.toolError(book_.droppedText(slot));
        if (result.stationFault && !halted_) {
            console_.toolError(QStringLiteral("no further chip is programmed in this session"));
            halted_ = true;
        }
        QString error;
        if (plan_.log && !log_.append(outcome.record, error)) {
            // A station that cannot record what it programs must not go on: no further round starts.
            console_.toolError(QStringLiteral("cannot write the log %1: %2; the line for %3 is not in it, and "
                                              "no further chip is programmed in this session")
                                   .arg(*plan_.log, error, book_.label(slot)));
            halted_ = true;
        }
    }

    // The count so far, the ports that failed in the round just ended, and the question, until the operator
    // gives an answer that it takes: true for the next round.
    bool nextChipWanted() {
        console_.line(stderr, book_.runningCount());
        for (const QString& failure : book_.roundFailures())
            console_.line(stderr, QStringLiteral("  ") + failure);
        // Keys pressed while the round ran were meant for no question: only what is typed from now on counts.
        input_.discardTyped();
        for (;;) {
            console_.line(stderr, nextChipPrompt());
            const std::optional<QByteArray> answer = input_.next();
            if (!answer) return false;
            switch (nextChipAnswer(*answer)) {
            case NextChipAnswer::NextRound:
                return true;
            case NextChipAnswer::Stop:
                return false;
            case NextChipAnswer::Unclear:
                console_.line(stderr, unclearAnswerText(*answer));
                break;
            }
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

    // The summary and the exit code.
    int report() {
        if (several_ && !plan_.quiet)
            for (const QString& line : book_.summary(plan_.repeat))
                console_.line(plan_.logStream, line);
        if (plan_.repeat) console_.line(stderr, book_.totalText());
        if (halted_) return ExitFailed;
        if (!several_ && !plan_.repeat) return workers_.front()->outcome().result.exit;
        return book_.allPassed() ? ExitOk : ExitFailed;
    }

    const GangPlan& plan_;
    const bool several_;
    const QStringList labels_;
    const int count_;
    Console console_;
    StationBook book_;
    RunLog log_;
    std::vector<std::unique_ptr<PortWorker>> workers_;
    std::vector<std::unique_ptr<QThread>> threads_;
    LineWait input_;
    bool stopping_ = false;
    // The station cannot go on (its log or its serial counter failed): no further round starts.
    bool halted_ = false;
};

} // namespace

int runOnPorts(const GangPlan& plan) {
    return GangRun(plan).run();
}
