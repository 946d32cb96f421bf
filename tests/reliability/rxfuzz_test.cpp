// Seeded fuzzing of the receive handler: random operations, random byte streams (plausible replies, mutated
// replies and plain noise) cut into random notifications, with short reads, restarts and timer ticks mixed
// in. After every notification the state must be sound; at the end of a run the watchdog must bring the host
// back to idle. Run under AddressSanitizer, this also shows that no buffer is read or written out of bounds.
//
// CHIPWRIGHT_FUZZ_RUNS raises the number of runs (default 3000) and CHIPWRIGHT_FUZZ_SEED picks the seed, e.g.
//   CHIPWRIGHT_FUZZ_RUNS=200000 build-asan/tests/reliability_fuzz_tests
#include "programmer/chipcatalogue.h"
#include "programmer/linkport.h"
#include "programmer/sequencer.h"
#include "support/fakeview.h"

#include <QRandomGenerator>

#include <deque>
#include <vector>

#include <gtest/gtest.h>

namespace {

int envInt(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

// A line whose reads may come up short, as a device read that races the notification can.
class FuzzLink : public LinkPort {
public:
    void WriteBytes(std::span<const quint8> bytes) override { sent.emplace_back(bytes.begin(), bytes.end()); }
    int ReadBytes(std::span<quint8> bytes) override {
        size_t n = std::min(bytes.size(), incoming.size());
        if (shortRead && n > 0) n = n - 1;
        for (size_t i = 0; i < n; ++i) {
            bytes[i] = incoming.front();
            incoming.pop_front();
        }
        return static_cast<int>(n);
    }
    int InputQueueCount() override { return static_cast<int>(incoming.size()); }
    std::vector<std::vector<quint8>> sent;
    std::deque<quint8> incoming;
    bool shortRead = false;
};

struct FuzzRun {
    QRandomGenerator rng;
    FakeView view;
    HostSession session{view};
    FuzzLink link;
    Sequencer seq{session, link};
    int chip = -1;

    // A number below n.
    quint32 below(size_t n) { return rng.bounded(static_cast<quint32>(n)); }

    explicit FuzzRun(quint32 seed) : rng(seed) {
        seq.setSleep([](int) {});
        // Now and then no chip was ever applied (the port did not open at start-up): no read buffer at all.
        if (rng.bounded(10) != 0) {
            chip = static_cast<int>(rng.bounded(chipCount));
            session.confirmChip(chip);
        }
        CodeBuffer& b = session.buffer();
        const int capacity = b.capacity();
        b.recreate(capacity);
        for (int a = 0; a < capacity; ++a)
            b.store(a, static_cast<quint8>(rng.bounded(256)));
        switch (rng.bounded(4)) {
        case 0:
            b.setDataEnd(0);
            break;
        case 1:
            b.setDataEnd(capacity > 0 ? capacity - 1 : 0);
            break;
        case 2:
            b.setDataEnd(capacity + 1 + static_cast<int>(rng.bounded(5000)));
            break; // larger than the buffer
        default:
            b.setDataEnd(capacity > 1 ? static_cast<int>(rng.bounded(capacity)) : 0);
            break;
        }
    }

    void start() {
        switch (rng.bounded(6)) {
        case 0:
            seq.EraseButClick();
            break;
        case 1:
            seq.ProgramButClick();
            break;
        case 2:
            seq.VerifyButClick();
            break;
        case 3:
            seq.ReadButClick();
            break;
        case 4:
            seq.AutoProButClick();
            break;
        default:
            seq.sendLock();
            break;
        }
    }

    // What a programmer might plausibly send next, often slightly wrong.
    std::vector<quint8> piece() {
        static const quint8 statuses[] = {0x01, 0x02, 0x03, 0x06, 0x07, 0x09, 0x11};
        std::vector<quint8> bytes;
        switch (rng.bounded(6)) {
        case 0: { // a block frame of the image, as a good programmer sends it
            const auto block = session.buffer().codeBlock(seq.blockIndex());
            bytes = {0x00, 0x00};
            bytes.insert(bytes.end(), block.begin(), block.end());
            bytes.resize(18, 0xFF);
            break;
        }
        case 1: // a status reply, one or two bytes
            bytes.push_back(statuses[below(std::size(statuses))]);
            if (rng.bounded(2)) bytes.push_back(static_cast<quint8>(rng.bounded(2)));
            break;
        case 2: // a run of block requests
            bytes.assign(1 + rng.bounded(20), 0x03);
            break;
        default: // noise
            bytes.resize(1 + rng.bounded(40));
            for (quint8& b : bytes)
                b = static_cast<quint8>(rng.bounded(256));
            break;
        }
        // Mutations: a flipped bit, a lost byte, an extra byte.
        if (!bytes.empty() && rng.bounded(4) == 0) bytes[below(bytes.size())] ^= 1u << rng.bounded(8);
        if (bytes.size() > 1 && rng.bounded(6) == 0) bytes.erase(bytes.begin() + below(bytes.size()));
        if (rng.bounded(6) == 0)
            bytes.insert(bytes.begin() + below(bytes.size() + 1), static_cast<quint8>(rng.bounded(256)));
        return bytes;
    }

    // The state that must hold after every step.
    void checkSound(int step) {
        ASSERT_GE(seq.frameFill(), 0) << step;
        ASSERT_LE(seq.frameFill(), 19) << step;
        ASSERT_GE(seq.blockIndex(), 0) << step;
        const int blocks = static_cast<int>(
            std::max(session.buffer().code().size(), session.buffer().readBuffer().size()) / blockSize);
        ASSERT_LE(seq.blockIndex(), std::max(blocks, 1)) << step; // one block counted when there is no buffer
        // A transfer that waits for bytes always has the watchdog armed: silence cannot leave it stuck.
        if (seq.readMode() || seq.verifyMode()) {
            ASSERT_TRUE(seq.DOGTimer4().enabled()) << step;
        }
        for (const auto& frame : link.sent) {
            ASSERT_TRUE(frame.size() == 3 || frame.size() == 18) << step;
            if (frame.size() == 18 && frame[0] == 0x07) {
                // A data frame carries 16 bytes of the code buffer, of a block inside the image.
                const auto& code = session.buffer().code();
                const auto it = std::search(code.begin(), code.end(), frame.begin() + 2, frame.end());
                ASSERT_NE(it, code.end()) << step;
            }
        }
        link.sent.clear();
    }
};

} // namespace

TEST(ReceiveFuzz, RandomStreamsNeverBreakTheHostAndTheWatchdogEndsEveryRun) {
    const int runs = envInt("CHIPWRIGHT_FUZZ_RUNS", 3000);
    const quint32 seed = static_cast<quint32>(envInt("CHIPWRIGHT_FUZZ_SEED", 20240611));
    QRandomGenerator seeds(seed);
    long notifications = 0;
    for (int r = 0; r < runs; ++r) {
        const quint32 runSeed = seeds.generate();
        SCOPED_TRACE(testing::Message() << "run " << r << " seed " << runSeed);
        FuzzRun run(runSeed);
        run.start();
        const int steps = 1 + static_cast<int>(run.rng.bounded(60));
        for (int s = 0; s < steps; ++s) {
            const auto bytes = run.piece();
            run.link.incoming.insert(run.link.incoming.end(), bytes.begin(), bytes.end());
            // Deliver what is queued in random notifications; a count may also exceed what is there.
            while (!run.link.incoming.empty()) {
                const int queued = static_cast<int>(run.link.incoming.size());
                int count = 1 + static_cast<int>(run.rng.bounded(static_cast<quint32>(queued)));
                if (run.rng.bounded(20) == 0) count += static_cast<int>(run.rng.bounded(30));
                run.link.shortRead = run.rng.bounded(15) == 0;
                run.seq.ComPortRxChar(count);
                ++notifications;
                run.checkSound(s);
                if (testing::Test::HasFatalFailure()) return;
                if (run.link.incoming.size() == static_cast<size_t>(queued)) run.link.incoming.clear();
            }
            switch (run.rng.bounded(12)) {
            case 0:
                run.start();
                break; // the user starts something else meanwhile
            case 1:
                run.seq.Timer1Timer();
                break; // a progress tick
            case 2:
                run.seq.DOGTimer4Timer();
                break; // silence long enough for the watchdog
            default:
                break;
            }
            run.checkSound(s);
            if (testing::Test::HasFatalFailure()) return;
        }
        // The line goes quiet: the watchdog, if armed, ends the run; then nothing may still be running.
        if (run.seq.DOGTimer4().enabled()) run.seq.DOGTimer4Timer();
        ASSERT_FALSE(run.seq.readMode());
        ASSERT_FALSE(run.seq.verifyMode());
        ASSERT_FALSE(run.seq.Timer1().enabled()) << "a progress display that nothing will ever stop: "
                                                 << run.view.logLines.join(" | ").toStdString();
        ASSERT_FALSE(run.seq.DOGTimer4().enabled());
    }
    RecordProperty("notifications", static_cast<int>(notifications));
    std::printf("%d runs, %ld notifications, seed %u\n", runs, notifications, seed);
}
