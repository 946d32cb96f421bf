#include "production/stationbook.h"

#include <algorithm>

namespace {

QString seconds(qint64 ms) {
    return QStringLiteral("%1 s").arg(static_cast<double>(ms) / 1000.0, 0, 'f', 1);
}

QString countsText(int passed, int failed, int portErrors) {
    QString text = QStringLiteral("passed %1, failed %2").arg(passed).arg(failed);
    if (portErrors > 0) text += QStringLiteral(", port errors %1").arg(portErrors);
    return text;
}

QString resultWord(RunVerdict verdict) {
    switch (verdict) {
    case RunVerdict::Passed:
        return QStringLiteral("passed");
    case RunVerdict::Failed:
        return QStringLiteral("FAILED");
    case RunVerdict::PortError:
        return QStringLiteral("PORT-ERROR");
    }
    return {};
}

} // namespace

StationBook::StationBook(QStringList labels)
    : labels_(std::move(labels)), tallies_(static_cast<size_t>(labels_.size())) {}

void StationBook::startRound() {
    ++round_;
    for (Tally& t : tallies_)
        t.thisRound.reset();
}

bool StationBook::anyInSession() const {
    return std::any_of(tallies_.begin(), tallies_.end(), [](const Tally& t) { return !t.dropped; });
}

bool StationBook::record(int slot, const RunEnd& end) {
    Tally& t = tallies_[static_cast<size_t>(slot)];
    t.thisRound = end;
    t.elapsedMs += end.elapsedMs;
    switch (end.verdict) {
    case RunVerdict::Passed:
        ++t.passed;
        break;
    case RunVerdict::Failed:
        ++t.failed;
        break;
    case RunVerdict::PortError:
        ++t.portErrors;
        break;
    }
    if (end.verdict != RunVerdict::Passed) t.lastFailure = end.failure;
    t.openFailuresInARow = end.openFailed ? t.openFailuresInARow + 1 : 0;
    if (t.dropped || t.openFailuresInARow < openFailuresToDrop) return false;
    t.dropped = true;
    return true;
}

int StationBook::passed() const {
    int n = 0;
    for (const Tally& t : tallies_)
        n += t.passed;
    return n;
}

int StationBook::failed() const {
    int n = 0;
    for (const Tally& t : tallies_)
        n += t.failed;
    return n;
}

int StationBook::portErrors() const {
    int n = 0;
    for (const Tally& t : tallies_)
        n += t.portErrors;
    return n;
}

QString StationBook::runningCount() const {
    QString text = countsText(passed(), failed(), portErrors());
    text[0] = text[0].toUpper();
    return text;
}

QString StationBook::totalText() const {
    return QStringLiteral("Total: ") + countsText(passed(), failed(), portErrors());
}

QStringList StationBook::roundFailures() const {
    QStringList lines;
    for (int i = 0; i < portCount(); ++i) {
        const std::optional<RunEnd>& end = tally(i).thisRound;
        if (!end || end->verdict == RunVerdict::Passed) continue;
        lines << QStringLiteral("%1: %2: %3")
                     .arg(labels_[i],
                          end->verdict == RunVerdict::PortError ? QStringLiteral("port error")
                                                                : QStringLiteral("chip failed"),
                          end->failure);
    }
    return lines;
}

QString StationBook::droppedText(int slot) const {
    return QStringLiteral("%1 is dropped from this session: it could not be opened in %2 rounds in a row")
        .arg(labels_[slot])
        .arg(openFailuresToDrop);
}

QStringList StationBook::summary(bool repeat) const {
    qsizetype width = 4;
    for (const QString& label : labels_)
        width = std::max(width, label.size());
    QStringList lines;
    if (!repeat) {
        lines << QStringLiteral("%1  %2  %3  %4")
                     .arg(QStringLiteral("Port"), -width)
                     .arg(QStringLiteral("Result"), -10)
                     .arg(QStringLiteral("Run time"), 8)
                     .arg(QStringLiteral("Failure"));
        for (int i = 0; i < portCount(); ++i) {
            const std::optional<RunEnd>& end = tally(i).thisRound;
            if (!end) continue;
            lines << QStringLiteral("%1  %2  %3  %4")
                         .arg(labels_[i], -width)
                         .arg(resultWord(end->verdict), -10)
                         .arg(seconds(end->elapsedMs), 8)
                         .arg(end->verdict == RunVerdict::Passed ? QString() : end->failure)
                         .trimmed();
        }
        return lines;
    }
    lines << QStringLiteral("%1  %2  %3  %4  %5  %6")
                 .arg(QStringLiteral("Port"), -width)
                 .arg(QStringLiteral("Passed"))
                 .arg(QStringLiteral("Failed"))
                 .arg(QStringLiteral("Port errors"))
                 .arg(QStringLiteral("Total run time"), 14)
                 .arg(QStringLiteral("Last failure"));
    for (int i = 0; i < portCount(); ++i) {
        const Tally& t = tally(i);
        lines << QStringLiteral("%1  %2  %3  %4  %5  %6")
                     .arg(labels_[i], -width)
                     .arg(t.passed, 6)
                     .arg(t.failed, 6)
                     .arg(t.portErrors, 11)
                     .arg(seconds(t.elapsedMs), 14)
                     .arg(t.dropped ? QStringLiteral("(dropped) ") + t.lastFailure : t.lastFailure)
                     .trimmed();
    }
    return lines;
}
