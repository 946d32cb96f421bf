#include "portworker.h"

#include "clirun.h"

#include <QDateTime>

void PortWorker::runRound(int round) {
    if (!job_) {
        view_ =
            std::make_unique<TerminalView>(console_, plan_.logStream, plan_.quiet,
                                           plan_.ports.size() > 1 ? '[' + label_ + "] " : QString(), slot_);
        PortJobSetup setup = plan_.setup;
        setup.port = port_;
        if (plan_.serial)
            setup.beforeStart = [this](CodeBuffer& image) { return giveSerial(image); };
        job_ = std::make_unique<PortJob>(std::move(setup), *view_, std::move(trace_));
    }
    serial_.reset();
    RunRecord record;
    // In UTC: the zone is looked up where the log line is written, on the main thread alone.
    record.started = QDateTime::currentDateTimeUtc();
    record.round = round;
    if (plan_.output) record.output = plan_.ports.size() > 1 ? nameForPort(*plan_.output, label_) : *plan_.output;
    PortJobResult result = job_->run();
    if (result.exit == ExitOk && plan_.afterRun) {
        result.exit = plan_.afterRun(*job_, record.output.value_or(QString()), result.failure);
        if (result.exit != ExitOk) view_->toolError(result.failure);
    }

    record.port = job_->portName();
    record.chip = plan_.chip;
    record.operation = plan_.operation;
    record.file = plan_.file;
    record.sha256 = plan_.sha256;
    record.lock = plan_.lock;
    record.verdict = result.exit == ExitOk ? RunVerdict::Passed
                     : result.portError    ? RunVerdict::PortError
                                           : RunVerdict::Failed;
    if (plan_.checksum) record.checksum = plan_.checksum(*job_, record.verdict == RunVerdict::Passed);
    if (plan_.file) record.programmedChecksum = imageChecksum(job_->session().buffer().imageBytes());
    record.serial = serial_;
    if (serial_ && record.verdict != RunVerdict::Passed && !result.failure.isEmpty())
        result.failure += QStringLiteral(" (serial number %1 is spent)").arg(*serial_);
    record.failure = result.failure;
    record.elapsedMs = result.elapsedMs;
    {
        std::lock_guard lock(mutex_);
        outcome_ = {result, record};
    }
    emit roundEnded(slot_);
}

QString PortWorker::giveSerial(CodeBuffer& image) {
    QString error;
    const std::optional<quint64> number = SerialCounter(*plan_.serialFile).take(error);
    if (!number) return QStringLiteral("cannot take a serial number from %1: %2").arg(*plan_.serialFile, error);
    serial_ = number;
    const std::optional<QByteArray> bytes = plan_.serial->bytes(*number);
    if (!bytes || !placeSerial(image, *plan_.serial, *bytes))
        return QStringLiteral("the serial number %1 does not fit in %2 bytes").arg(*number).arg(plan_.serial->length);
    return {};
}
