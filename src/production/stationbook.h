#pragma once

#include "production/runend.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The books of one session at a station: the rounds, and for each port the chips that passed, the chips that
// failed and the port's own faults, apart from each other. A port that cannot be opened in
// openFailuresToDrop rounds in a row is dropped from the session; the session goes on with the others.
class StationBook {
public:
    static constexpr int openFailuresToDrop = 3;

    // labels: the ports' names as the lines and tables show them, one per port.
    explicit StationBook(QStringList labels);

    struct Tally {
        int passed = 0;
        int failed = 0;
        int portErrors = 0;
        qint64 elapsedMs = 0;
        QString lastFailure;
        int openFailuresInARow = 0;
        bool dropped = false;
        // How its run of the current round ended, once it has.
        std::optional<RunEnd> thisRound;
    };

    int portCount() const { return static_cast<int>(tallies_.size()); }
    const QString& label(int slot) const { return labels_[slot]; }
    const Tally& tally(int slot) const { return tallies_[static_cast<size_t>(slot)]; }

    // The round under way, or the last one: 1 for the first, 0 before it.
    int round() const { return round_; }
    // Starts the next round, which the ports still in the session run.
    void startRound();
    bool inSession(int slot) const { return !tally(slot).dropped; }
    bool anyInSession() const;

    // Counts how slot's run of this round ended. True when it dropped the port from the session.
    bool record(int slot, const RunEnd& end);

    int passed() const;
    int failed() const;
    int portErrors() const;
    bool allPassed() const { return failed() == 0 && portErrors() == 0; }

    // "Passed 5, failed 1" (and ", port errors 2" when there were any).
    QString runningCount() const;
    // "Total: passed 5, failed 1" (and the port errors, as above).
    QString totalText() const;
    // The ports whose run in the round just ended did not pass, each with its reason:
    // "ttyUSB1: port error: cannot open the port ...".
    QStringList roundFailures() const;
    // The line that says slot was dropped.
    QString droppedText(int slot) const;
    // The table that ends a session on several ports: a row per port. repeat: the session's counts, else
    // the one round's result.
    QStringList summary(bool repeat) const;

private:
    QStringList labels_;
    std::vector<Tally> tallies_;
    int round_ = 0;
};
