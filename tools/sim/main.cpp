// chipwright-sim: the programmer simulator. This file only moves bytes between the pseudo-terminal and the
// protocol engine, on one thread that sleeps in poll until a byte, a signal or a deadline wakes it.
#include "simengine.h"
#include "simoptions.h"
#include "simpty.h"
#include "simstate.h"
#include "simwire.h"

#include <QStringList>

#include <cerrno>
#include <cstdio>

namespace {

using sim::Micros;
namespace os = sim::os;

constexpr Micros ms = 1000;

class Simulator {
public:
    Simulator(const sim::SimOptions& options, sim::Engine& engine, os::Pty& pty, int signalFd)
        : o_(options), engine_(engine), pty_(pty), signalFd_(signalFd), wire_(options.engine.byteTime) {}

    int run() {
        if (o_.baud > 0) os::tightenTimerSlack();
        start_ = lastTraffic_ = os::nowMicros();
        savedChanges_ = engine_.changeCount();
        for (;;) {
            if (!waitAndServe()) break;
            if (hungUp_) break;
            if (o_.exitAfterIdleMs && outbox_.isEmpty() && wire_.empty() && !engine_.nextDeadline() &&
                os::nowMicros() - lastTraffic_ >= *o_.exitAfterIdleMs * ms) {
                note(QStringLiteral("idle for %1 ms: exiting").arg(*o_.exitAfterIdleMs));
                break;
            }
        }
        if (!hungUp_) os::closePty(pty_);
        save(true);
        return failed_ ? 1 : 0;
    }

private:
    // One round: wait, take what came, answer what is due. False when the simulator should stop.
    bool waitAndServe() {
        Micros now = os::nowMicros();
        std::optional<Micros> deadline = engine_.nextDeadline();
        auto earliest = [&](Micros at) { deadline = deadline ? std::min(*deadline, at) : at; };
        if (auto wire = wire_.nextDeadline()) earliest(*wire);
        if (o_.exitAfterIdleMs) earliest(lastTraffic_ + *o_.exitAfterIdleMs * ms);
        const bool masterPaused = now < masterPausedUntil_;
        if (masterPaused) earliest(masterPausedUntil_);

        os::Wait waits[3] = {{signalFd_, true, false},
                             {pty_.master, !masterPaused, !outbox_.isEmpty()},
                             {0, o_.exitOnStdinClose, false}};
        os::Ready ready[3];
        if (!os::waitFor(waits, ready, o_.exitOnStdinClose ? 3 : 2, deadline)) {
            note(QStringLiteral("poll failed: exiting"));
            failed_ = true;
            return false;
        }
        now = os::nowMicros();
        if (ready[0].readable && os::takeSignal(signalFd_)) {
            note(QStringLiteral("signal received: exiting"));
            return false;
        }
        if (o_.exitOnStdinClose && (ready[2].readable || ready[2].hangup)) {
            QByteArray ignored;
            const auto result = os::readSome(0, ignored);
            if (result == os::ReadResult::Closed || result == os::ReadResult::Failed) {
                note(QStringLiteral("standard input closed: exiting"));
                return false;
            }
        }
        if (!masterPaused && (ready[1].readable || ready[1].hangup)) readMaster(now);

        if (const QByteArray arrived = wire_.arrived(now); !arrived.isEmpty()) engine_.receive(arrived, now);
        engine_.advance(now);
        save(false);
        wire_.send(engine_.takeDue(now), now);
        outbox_ += wire_.due(now);
        if (!outbox_.isEmpty()) {
            const auto written = os::writeSome(pty_.master, outbox_);
            if (written < 0) {
                note(QStringLiteral("writing to the pseudo-terminal failed: exiting"));
                failed_ = true;
                return false;
            }
            if (written > 0) lastTraffic_ = now;
            outbox_.remove(0, written);
        }
        flushLog();
        if (o_.hangupAfterBytes && received_ >= *o_.hangupAfterBytes) {
            note(QStringLiteral("%1 bytes received: closing the pseudo-terminal (unplugged adapter)")
                     .arg(received_));
            os::closePty(pty_);
            hungUp_ = true;
        }
        return true;
    }

    void readMaster(Micros now) {
        QByteArray bytes;
        int error = 0;
        const auto result = os::readSome(pty_.master, bytes, &error);
        if (result == os::ReadResult::Failed || result == os::ReadResult::Closed) {
            // EIO means no process holds the slave open. Our own descriptor normally prevents that; should it
            // happen anyway, look again a little later rather than spin on a descriptor that stays ready.
            note(QStringLiteral("reading the pseudo-terminal failed (%1): retrying in 100 ms").arg(error));
            masterPausedUntil_ = now + 100 * ms;
            return;
        }
        if (bytes.isEmpty()) return;
        if (o_.hangupAfterBytes)
            bytes.truncate(std::min<qsizetype>(bytes.size(), *o_.hangupAfterBytes - received_));
        received_ += bytes.size();
        lastTraffic_ = now;
        wire_.receive(bytes, now);
    }

    // Saves when the memories changed and no program exchange is half done; at exit in any case.
    void save(bool atExit) {
        if (o_.statePath.isEmpty() || engine_.changeCount() == savedChanges_) return;
        if (engine_.programming() && !atExit) return;
        if (sim::saveStateFile(o_.statePath, engine_)) {
            savedChanges_ = engine_.changeCount();
            note(QStringLiteral("state saved to %1").arg(o_.statePath));
        } else {
            std::fprintf(stderr, "chipwright-sim: cannot write the state file %s\n",
                         qPrintable(o_.statePath));
            failed_ = true;
            savedChanges_ = engine_.changeCount(); // one message per change, not one per loop round
        }
    }

    void note(const QString& line) {
        if (!o_.verbose) return;
        std::fprintf(stderr, "[%10.3f] %s\n", double(os::nowMicros() - start_) / 1e6, qPrintable(line));
        std::fflush(stderr);
    }

    void flushLog() {
        const QStringList lines = engine_.takeLog();
        for (const QString& line : lines)
            note(line);
    }

    const sim::SimOptions& o_;
    sim::Engine& engine_;
    os::Pty& pty_;
    int signalFd_;
    sim::Wire wire_;

    Micros start_ = 0;
    Micros lastTraffic_ = 0;
    Micros masterPausedUntil_ = 0;
    QByteArray outbox_;
    std::int64_t received_ = 0;
    std::uint64_t savedChanges_ = 0;
    bool hungUp_ = false;
    bool failed_ = false;
};

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const sim::ParsedArguments parsed = sim::parseArguments(arguments);
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "chipwright-sim: %s\nTry \"chipwright-sim --help\".\n",
                     qPrintable(parsed.error));
        return 2;
    }
    if (parsed.help) {
        std::fputs(sim::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed.version) {
        std::printf("chipwright-sim %s\n", CHIPWRIGHT_VERSION);
        return 0;
    }
    const sim::SimOptions& options = parsed.options;
    sim::Engine engine(options.engine);
    if (!options.statePath.isEmpty()) {
        QString error;
        if (!sim::loadStateFile(options.statePath, engine, &error)) {
            std::fprintf(stderr, "chipwright-sim: %s\n", qPrintable(error));
            return 2;
        }
    }
    QString error;
    auto pty = os::openPty(&error);
    if (!pty) {
        std::fprintf(stderr, "chipwright-sim: cannot create a pseudo-terminal: %s\n", qPrintable(error));
        return 1;
    }
    const int signalFd = os::watchTerminationSignals();
    if (signalFd < 0) {
        std::fprintf(stderr, "chipwright-sim: cannot watch signals\n");
        return 1;
    }
    std::printf("%s\n", qPrintable(pty->slavePath));
    std::fflush(stdout);
    return Simulator(options, engine, *pty, signalFd).run();
}
