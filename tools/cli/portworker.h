#pragma once

#include "console.h"
#include "gangrun.h"
#include "portjob.h"
#include "production/runlog.h"
#include "terminalview.h"

#include "programmer/linktrace.h"

#include <QObject>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>

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
    // Runs the operation once as the given round of the session (the first time making the port's job on
    // this thread), then emits roundEnded.
    void runRound(int round);
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
    // Takes the chip's serial number and writes it into the image: an empty text, or why not.
    QString giveSerial(CodeBuffer& image);

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
    // This round's serial number, once taken.
    std::optional<quint64> serial_;
};
