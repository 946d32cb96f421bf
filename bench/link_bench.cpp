// The host's side of the link, measured on real pseudo-terminals through the serial port component:
//  - turnaround per block: from a programmer's request (0x03) to the host's complete 18-byte data frame, with
//  the
//    wire trace off (argument 0) and on, written to a file (argument 1);
//  - a whole program + verify of a 20 KB AT89C55 image against chipwright-sim, unpaced and at 9600 baud,
//  where
//    the time is compared with the line's own time (bytes on the wire x 10 bits / 9600 plus the fixed waits).
// Run: build/bench/link_bench (the paced case takes about a minute).
#include "programmer/comportlink.h"
#include "programmer/linktrace.h"
#include "programmer/sequencer.h"
#include "serial/comport.h"
#include "support/fakeview.h"
#include "support/ptypair.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include <benchmark/benchmark.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int chipAT89C55 = 4;
constexpr int imageSize = 20480;
constexpr int blocks = imageSize / 16;

// Counts the bytes the host writes.
class CountingLink : public ComPortLink {
public:
    using ComPortLink::ComPortLink;
    void WriteBytes(std::span<const quint8> bytes) override {
        ComPortLink::WriteBytes(bytes);
        sent += static_cast<qint64>(bytes.size());
    }
    qint64 sent = 0;
};

// The host as the program runs it: port, protocol and operations, on this thread's event loop.
struct Host {
    FakeView view;
    HostSession session{view};
    TComPort port;
    CountingLink link{port};
    TracingLink tracing{link};
    Sequencer seq{session, tracing};
    std::unique_ptr<LinkTrace> trace;
    qint64 received = 0;

    explicit Host(const QString& device, const QString& traceFile = {}) {
        if (!traceFile.isEmpty()) {
            QString error;
            trace = LinkTrace::open(traceFile, error);
            if (trace) {
                trace->observe(&seq);
                tracing.setTrace(trace.get());
                port.OnAfterOpen = [this](TCustomComPort*) { trace->portOpened(); };
            }
        }
        port.SetPort(device);
        port.OnRxChar = [this](TCustomComPort*, int n) {
            received += n;
            seq.ComPortRxChar(n);
        };
        port.Connect();
        session.confirmChip(chipAT89C55);
        CodeBuffer& b = session.buffer();
        b.recreate(imageSize);
        QRandomGenerator rng(5);
        for (int a = 0; a < imageSize; ++a)
            b.store(a, static_cast<quint8>(rng.bounded(256)));
        b.setDataEnd(imageSize - 1);
    }

    // Starts an operation and runs the event loop until it has ended; its success.
    bool run(void (Sequencer::*start)()) {
        QEventLoop loop;
        bool ok = false;
        auto c = QObject::connect(&seq, &Sequencer::operationEnded, &loop, [&](bool success) {
            ok = success;
            loop.quit();
        });
        QTimer::singleShot(0, &seq, [this, start] { (seq.*start)(); });
        QTimer::singleShot(600000, &loop, &QEventLoop::quit);
        loop.exec();
        QObject::disconnect(c);
        return ok;
    }
};

void BM_HostTurnaroundPerBlock(benchmark::State& state) {
    std::vector<double> turnarounds;
    QTemporaryDir dir;
    const QString traceFile = state.range(0) ? dir.filePath("wire.trace") : QString();
    for (auto _ : state) {
        PtyPair pty;
        Host host(pty.slavePath(), traceFile);
        if (state.range(0) && !host.trace) state.SkipWithError("the trace file cannot be written");
        std::vector<double> times;
        times.reserve(blocks);
        // The programmer: asks for every block and times the host's answer.
        std::thread programmer([&] {
            pty.receive(3); // the Program command
            for (int k = 0; k < blocks; ++k) {
                const auto t0 = Clock::now();
                pty.send(QByteArray(1, '\x03'));
                if (pty.receive(18).size() != 18) return;
                times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
            pty.receive(18); // the end frame
            pty.send(QByteArray(1, '\x07'));
        });
        const auto start = Clock::now();
        const bool ok = host.run(&Sequencer::ProgramButClick);
        programmer.join();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!ok || times.size() != blocks) state.SkipWithError("the program exchange did not complete");
        turnarounds.insert(turnarounds.end(), times.begin(), times.end());
    }
    std::sort(turnarounds.begin(), turnarounds.end());
    if (!turnarounds.empty()) {
        state.counters["median_us"] = turnarounds[turnarounds.size() / 2];
        state.counters["p99_us"] = turnarounds[turnarounds.size() * 99 / 100];
        state.counters["max_us"] = turnarounds.back();
    }
}
BENCHMARK(BM_HostTurnaroundPerBlock)
    ->ArgName("trace")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// chipwright-sim beside this benchmark's folder, running until the object goes.
struct Simulator {
    QProcess process;
    QString device;
    explicit Simulator(const QStringList& options) {
        process.start(QCoreApplication::applicationDirPath() + "/../chipwright-sim",
                      QStringList{"--exit-after-idle", "60000"} + options);
        if (process.waitForStarted(10000) && process.waitForReadyRead(10000))
            device = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

void programAndVerify(benchmark::State& state, const QStringList& simOptions, int baud) {
    for (auto _ : state) {
        Simulator sim(simOptions);
        if (sim.device.isEmpty()) {
            state.SkipWithError("chipwright-sim did not start");
            return;
        }
        Host host(sim.device);
        const auto start = Clock::now();
        const bool ok = host.run(&Sequencer::ProgramButClick) && host.run(&Sequencer::VerifyButClick);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        if (!ok) state.SkipWithError("program + verify failed");
        if (baud > 0) {
            // The host's own waits (50 ms before the end frame, 40 ms after the verify command, 50 ms before
            // the stop frame) and the simulator's pause before its 07 reply.
            const double fixedWaits = 0.050 + 0.040 + 0.050 + 0.150;
            const double line = static_cast<double>(host.link.sent + host.received) * 10 / baud + fixedWaits;
            state.counters["line_s"] = line;
            state.counters["vs_line_pct"] = 100.0 * (seconds - line) / line;
        }
        state.counters["bytes"] = static_cast<double>(host.link.sent + host.received);
    }
}

void BM_ProgramVerify20KUnpaced(benchmark::State& state) {
    programAndVerify(state, {}, 0);
}
BENCHMARK(BM_ProgramVerify20KUnpaced)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ProgramVerify20KAt9600(benchmark::State& state) {
    programAndVerify(state, {"--baud", "9600"}, 9600);
}
BENCHMARK(BM_ProgramVerify20KAt9600)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
