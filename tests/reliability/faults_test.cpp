// Faults on the line, end to end: the real serial port component against chipwright-sim with its fault
// options, for every operation and for each phase of its exchange. Every case must end in the host's own
// message for the fault (or success where the fault comes too late to matter), leave the host idle with a
// quiet event thread, and the same host must then run the operation byte-exact against a sound programmer.
#include "linkhost.h"
#include "programmer/chipcatalogue.h"
#include "support/simrunner.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

constexpr int chip = 0; // AT89C2051: 2K, 128 blocks
constexpr int imageBlocks = 64;
constexpr int chipBlocks = 128;

const QString watchdogText = "\nError !  Please Check The Connection Whether OK !\n"
                             "Or Check  Whether Suited Of The MCU Type  !\n";

enum class Op { Erase, Program, Verify, Read, Lock, Auto };
const char* opName(Op op) {
    static const char* names[] = {"Erase", "Program", "Verify", "Read", "Lock", "Auto"};
    return names[static_cast<int>(op)];
}
void start(Sequencer& s, Op op) {
    switch (op) {
    case Op::Erase:
        s.EraseButClick();
        break;
    case Op::Program:
        s.ProgramButClick();
        break;
    case Op::Verify:
        s.VerifyButClick();
        break;
    case Op::Read:
        s.ReadButClick();
        break;
    case Op::Lock:
        s.sendLock();
        break;
    case Op::Auto:
        s.AutoProButClick();
        break;
    }
}

// How a case ends, as the user sees it.
enum class End { Success, Watchdog, ProgramFail, VerifyFail, NoReply, Raised };
const char* endName(End e) {
    static const char* names[] = {"success", "watchdog", "program fail", "verify fail", "no reply", "raised"};
    return names[static_cast<int>(e)];
}

QByteArray randomImage(quint32 seed, int size) {
    QRandomGenerator rng(seed);
    QByteArray image(size, '\0');
    for (char& c : image)
        c = static_cast<char>(rng.bounded(256));
    return image;
}

// The last outcome the host showed.
End outcome(const LinkHost& h, Op op) {
    const QStringList& log = h.view.logLines;
    if (!h.raised.isEmpty()) return End::Raised;
    if (log.contains(watchdogText)) return End::Watchdog;
    if (log.contains("Program Fail !  Please Check!")) return End::ProgramFail;
    if (log.contains("Verify Fail !")) return End::VerifyFail;
    const QString success = op == Op::Erase     ? "Earse Succssed !"
                            : op == Op::Program ? "Program Succssed!"
                            : op == Op::Verify  ? "Verify Succssed !"
                            : op == Op::Read    ? "Read Finish !"
                                                : "Lock Succssed !";
    return log.contains(success) ? End::Success : End::NoReply;
}

struct Case {
    Op op;
    const char* phase;
    QStringList simOptions;
    std::vector<End> allowed; // the first is what the fault gives as it is built; others are clear too
};

// Runs one case and the recovery after it. The simulator's chip starts erased, except for Verify and Read,
// which find the image already on it.
void runCase(const Case& c, quint32 seed) {
    SCOPED_TRACE(testing::Message() << opName(c.op) << " / " << c.phase << " / "
                                    << c.simOptions.join(' ').toStdString());
    const QByteArray image = randomImage(seed, imageBlocks * 16);
    QByteArray onChip(chipBlocks * 16, '\xFF');
    if (c.op == Op::Verify || c.op == Op::Read) onChip.replace(0, image.size(), image);

    LinkHost h;
    h.load(chip, image);
    {
        SimRunner sim(c.simOptions, {{chip, onChip}});
        ASSERT_TRUE(sim.ok());
        ASSERT_TRUE(h.open(sim.device()));
        ASSERT_TRUE(h.run([&](Sequencer& s) { start(s, c.op); })) << "the host never settled";
        const End end = outcome(h, c.op);
        EXPECT_NE(std::find(c.allowed.begin(), c.allowed.end(), end), c.allowed.end())
            << "ended as " << endName(end) << "; log: " << h.view.logLines.join(" | ").toStdString()
            << " raised: " << h.raised.join(" | ").toStdString();
        if (end == End::Watchdog || end == End::ProgramFail) {
            EXPECT_EQ(h.view.statusText, "E r r o r !   ");
        }
        if (end == End::VerifyFail) {
            EXPECT_EQ(h.view.statusText, "Verify Error !");
        }
        EXPECT_FALSE(h.busy()) << "the host must be idle after the fault";

        // A quiet line wakes the event thread at most a few times (a closed device once): it does not spin.
        const std::uint64_t wakes = h.port.EventWakeCount();
        LinkHost::serve(100);
        EXPECT_LE(h.port.EventWakeCount() - wakes, 3u) << "the event thread keeps waking on a quiet line";
    }

    if (c.allowed.front() == End::Success) return; // the case itself was the sound run
    // The fault is gone: the same host, reopened on a sound programmer, runs the operation.
    h.view.logLines.clear();
    h.raised.clear();
    SimRunner sound({}, {{chip, onChip}});
    ASSERT_TRUE(sound.ok());
    ASSERT_TRUE(h.open(sound.device()));
    ASSERT_TRUE(h.run([&](Sequencer& s) { start(s, c.op); }));
    EXPECT_EQ(outcome(h, c.op), End::Success) << h.view.logLines.join(" | ").toStdString();
    if (c.op == Op::Program || c.op == Op::Auto) {
        const QByteArray memory = sound.memory(chip);
        EXPECT_EQ(memory.left(image.size()), image) << "the chip must hold the image byte for byte";
    }
    if (c.op == Op::Read) {
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(h.session.buffer().readBuffer().data()),
                             static_cast<qsizetype>(h.session.buffer().readBuffer().size())),
                  onChip);
    }
}

QString n(int v) {
    return QString::number(v);
}

// Bytes the simulator has received at each phase of each exchange (its command is 3 bytes; a data or end
// frame 18; a block request 3).
constexpr int programMid = 3 + 18 * (imageBlocks / 2);
constexpr int programLast = 3 + 18 * imageBlocks; // every data frame in, the end frame not
constexpr int verifyMid = 3 + 3 * (imageBlocks / 2);
constexpr int readMid = 3 + 3 * (chipBlocks / 2);
constexpr int autoVerifyMid = programLast + 18 + 3 + 3 * (imageBlocks / 2);
constexpr int autoBeforeLock = programLast + 18 + 3 + 3 * imageBlocks + 3; // verified and stopped

using E = End;

} // namespace

TEST(LineFaults, SilenceInEveryPhase) {
    const std::vector<Case> cases = {
        {Op::Erase, "before the reply", {"--silence-after", "0"}, {E::Watchdog}},
        {Op::Program, "before the first request", {"--silence-after", "0"}, {E::Watchdog}},
        {Op::Program, "mid-transfer", {"--silence-after", n(programMid)}, {E::Watchdog}},
        {Op::Program, "after the last block", {"--silence-after", n(programLast)}, {E::Watchdog}},
        {Op::Verify, "before the first frame", {"--silence-after", "0"}, {E::Watchdog}},
        {Op::Verify, "mid-transfer", {"--silence-after", n(verifyMid)}, {E::Watchdog}},
        {Op::Read, "before the first frame", {"--silence-after", "0"}, {E::Watchdog}},
        {Op::Read, "mid-transfer", {"--silence-after", n(readMid)}, {E::Watchdog}},
        // The Lock command has no watchdog: silence leaves no message and nothing armed.
        {Op::Lock, "before the reply", {"--silence-after", "0"}, {E::NoReply}},
        {Op::Auto, "before the erase reply", {"--silence-after", "0"}, {E::Watchdog}},
        {Op::Auto, "mid-programming", {"--silence-after", n(programMid)}, {E::Watchdog}},
        {Op::Auto, "after the last block", {"--silence-after", n(programLast)}, {E::Watchdog}},
        {Op::Auto, "mid-verification", {"--silence-after", n(autoVerifyMid)}, {E::Watchdog}},
    };
    quint32 seed = 1;
    for (const Case& c : cases)
        runCase(c, seed++);
}

TEST(LineFaults, FailureRepliesAndMismatches) {
    const std::vector<Case> cases = {
        {Op::Program, "first block", {"--fail-after-block", "0"}, {E::ProgramFail}},
        {Op::Program, "mid-transfer", {"--fail-after-block", n(imageBlocks / 2)}, {E::ProgramFail}},
        {Op::Program, "after the last block", {"--fail-program"}, {E::ProgramFail}},
        {Op::Auto, "mid-programming", {"--fail-after-block", n(imageBlocks / 2)}, {E::ProgramFail}},
        {Op::Auto, "after the last block", {"--fail-program"}, {E::ProgramFail}},
        {Op::Verify, "first byte", {"--corrupt", "0"}, {E::VerifyFail}},
        {Op::Verify, "mid-image", {"--corrupt", n(imageBlocks * 8 + 5)}, {E::VerifyFail}},
        {Op::Verify, "last byte", {"--corrupt", n(imageBlocks * 16 - 1)}, {E::VerifyFail}},
        {Op::Auto, "last byte", {"--corrupt", n(imageBlocks * 16 - 1)}, {E::VerifyFail}},
    };
    quint32 seed = 100;
    for (const Case& c : cases)
        runCase(c, seed++);
}

TEST(LineFaults, SplitFramesAtEveryPosition) {
    // Every cut position with CHIPWRIGHT_FAULTS_FULL=1; the first, the last and a few between otherwise.
    const bool full = qEnvironmentVariableIntValue("CHIPWRIGHT_FAULTS_FULL") != 0;
    std::vector<Case> cases;
    for (int pos : full ? std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}
                        : std::vector<int>{1, 2, 9, 16, 17})
        cases.push_back({Op::Verify, "split", {"--split", n(pos), "--split-gap", "1"}, {E::Success}});
    cases.push_back({Op::Verify, "split", {"--split", "all", "--split-gap", "1"}, {E::Success}});
    cases.push_back({Op::Read, "split", {"--split", "all", "--split-gap", "1"}, {E::Success}});
    cases.push_back({Op::Auto, "split", {"--split", "3,9,15", "--split-gap", "1"}, {E::Success}});
    quint32 seed = 200;
    for (const Case& c : cases)
        runCase(c, seed++);
}

TEST(LineFaults, ExtraBytesAfterReplies) {
    const std::vector<Case> cases = {
        {Op::Erase, "reply", {"--extra-bytes", "5A,A5"}, {E::Success}},
        {Op::Program, "every reply", {"--extra-bytes", "5A,A5"}, {E::Success}},
        {Op::Lock, "reply", {"--extra-bytes", "5A,A5"}, {E::Success}},
        {Op::Read, "end reply", {"--extra-bytes", "5A,A5"}, {E::Success}},
        {Op::Auto, "every reply", {"--extra-bytes", "01,5A"}, {E::Success}},
        {Op::Auto, "two-byte replies", {"--two-byte-replies"}, {E::Success}},
    };
    quint32 seed = 300;
    for (const Case& c : cases)
        runCase(c, seed++);
}

TEST(LineFaults, UnpluggedInEveryPhase) {
    // The simulator closes its pseudo-terminal as an unplugged adapter would ("before": in the middle of the
    // command). A start whose own write finds
    // the device gone raises the write failure; a transfer cut off later ends with the watchdog.
    const std::vector<E> gone = {E::Watchdog, E::Raised};
    const std::vector<Case> cases = {
        {Op::Erase, "before the reply", {"--hangup-after", "2"}, gone},
        {Op::Program, "before the first request", {"--hangup-after", "2"}, gone},
        {Op::Program, "mid-transfer", {"--hangup-after", n(programMid)}, gone},
        {Op::Program, "after the last block", {"--hangup-after", n(programLast)}, gone},
        {Op::Verify, "before the first frame", {"--hangup-after", "2"}, gone},
        {Op::Verify, "mid-transfer", {"--hangup-after", n(verifyMid)}, gone},
        {Op::Read, "before the first frame", {"--hangup-after", "2"}, gone},
        {Op::Read, "mid-transfer", {"--hangup-after", n(readMid)}, gone},
        {Op::Lock, "before the reply", {"--hangup-after", "2"}, {E::NoReply}},
        {Op::Auto, "mid-programming", {"--hangup-after", n(programMid)}, gone},
        {Op::Auto, "mid-verification", {"--hangup-after", n(autoVerifyMid)}, gone},
        {Op::Auto, "before the lock", {"--hangup-after", n(autoBeforeLock)}, {E::NoReply, E::Success}},
    };
    quint32 seed = 400;
    for (const Case& c : cases)
        runCase(c, seed++);
}
