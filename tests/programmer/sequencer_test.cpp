#include "fakelink.h"
#include "programmer/chipcatalogue.h"
#include "support/fakeview.h"
#include "support/tempconfig.h"

#include <numeric>

#include <gtest/gtest.h>

namespace {

const QString watchdogText = "\nError !  Please Check The Connection Whether OK !\n"
                             "Or Check  Whether Suited Of The MCU Type  !\n";

struct Host {
    FakeView view;
    HostSession session{view};
    FakeLink link;
    Sequencer seq{session, link};
    std::vector<int> sleeps;

    std::vector<bool> ends; // operationEnded, in order

    explicit Host(int chip = 6) {
        seq.setSleep([this](int ms) { sleeps.push_back(ms); });
        QObject::connect(&seq, &Sequencer::operationEnded, [this](bool ok) { ends.push_back(ok); });
        session.confirmChip(chip);
    }

    // An image as a HEX load leaves it: the chip's capacity, address-derived bytes up to dataEnd, fill
    // behind.
    void load(int dataEnd) {
        CodeBuffer& b = session.buffer();
        b.recreate(b.capacity());
        for (int a = 0; a <= dataEnd && a < b.capacity(); ++a)
            b.store(a, static_cast<quint8>(a * 7 + 3));
        b.setDataEnd(dataEnd);
    }
    std::span<const quint8> block(int k) const { return session.buffer().codeBlock(k); }
    Frame chipBlock(int k) { return blockFrame(block(k)); }
};

Frame frame3(quint8 a, quint8 b, quint8 c) {
    return {a, b, c};
}

} // namespace

TEST(Program, SendsEveryBlockUpToTheDataEndThenTheEndFrame) {
    struct Case {
        int chip, dataEnd, blocks;
    };
    for (const Case c : {Case{0, 0x07FF, 128}, Case{1, 0x0800, 129}, Case{6, 0x0010, 2}}) {
        Host h(c.chip);
        h.load(c.dataEnd);
        h.seq.ProgramButClick();
        EXPECT_EQ(h.link.takeSent(), std::vector<Frame>{frame3(static_cast<quint8>(c.chip), 0x03, 0x00)});
        for (int k = 0; k < c.blocks; ++k) {
            h.link.reply(h.seq, {0x03});
            auto sent = h.link.takeSent();
            ASSERT_GE(sent.size(), 1u);
            Frame expected{0x07, 0x07};
            expected.insert(expected.end(), h.block(k).begin(), h.block(k).end());
            ASSERT_EQ(sent[0], expected) << "block " << k;
            EXPECT_EQ(sent.size(), k + 1 == c.blocks ? 2u : 1u)
                << "the end frame follows only the last block";
            EXPECT_EQ(h.seq.DOGTimer4().interval(), 1000);
            EXPECT_TRUE(h.seq.DOGTimer4().enabled());
            if (k + 1 == c.blocks) {
                EXPECT_EQ(sent[1].size(), 18u);
                EXPECT_EQ(sent[1][0], 0x08);
                EXPECT_EQ(h.sleeps.back(), 50);
            }
        }
        // A request after the end frame asks for a block past the image: it is not answered.
        h.link.reply(h.seq, {0x03});
        EXPECT_TRUE(h.link.takeSent().empty());

        h.link.reply(h.seq, {0x07});
        EXPECT_EQ(h.view.logLines,
                  QStringList({"Programming Now ...... Please Wait !", "Program Succssed!"}));
        EXPECT_EQ(h.view.statusText, "OK   ");
        EXPECT_EQ(h.view.statusColour, StatusColour::Success);
        EXPECT_EQ(h.view.beeps, (std::vector<std::pair<int, int>>{{784, 200}}));
        EXPECT_FALSE(h.seq.DOGTimer4().enabled());
        EXPECT_FALSE(h.seq.Timer1().enabled());
        EXPECT_EQ(h.seq.blockIndex(), 0);
        EXPECT_TRUE(h.link.takeSent().empty()) << "a manual program does not go on to verify";
    }
}

TEST(Program, BlockByteAt0x800HoldsTheFileByteAndFifteenFillBytes) {
    Host h(1);
    h.load(0x0800);
    h.seq.ProgramButClick();
    h.link.takeSent();
    for (int k = 0; k <= 128; ++k)
        h.link.reply(h.seq, {0x03});
    const auto sent = h.link.takeSent();
    const Frame& last = sent[sent.size() - 2];
    EXPECT_EQ(last[2], static_cast<quint8>(0x800 * 7 + 3));
    EXPECT_EQ(last[3], 0xFF);
    EXPECT_EQ(last[17], 0xFF);
}

TEST(Program, ImageLongerThanItsBufferIsNeverReadPastItsEnd) {
    Host h(0);
    h.load(0x07FF);
    h.session.buffer().setDataEnd(0x4FFF); // a failed load left data end past the image
    h.seq.ProgramButClick();
    h.link.takeSent();
    for (int k = 0; k < 200; ++k)
        h.link.reply(h.seq, {0x03});
    const auto sent = h.link.takeSent();
    ASSERT_EQ(sent.size(), 129u) << "128 data frames of the 2K image, then the end frame";
    EXPECT_EQ(sent.back()[0], 0x08);
}

TEST(Read, AnAT89C2051TakesA128BlockExchangeIntoTheReadBufferAndTheView) {
    Host h(0);
    h.session.buffer().storeReadBlock(0, std::array<quint8, 16>{}); // whatever was there before
    h.view.hex = {"typed"};
    h.seq.ReadButClick();
    EXPECT_EQ(h.link.takeSent(), (std::vector<Frame>{{0x00, 0x04, 0x00}, {0x09, 0x04, 0x00}}));
    EXPECT_EQ(h.sleeps, std::vector<int>{40});
    EXPECT_TRUE(h.view.hex.isEmpty());

    std::vector<quint8> chip(2048);
    std::iota(chip.begin(), chip.end(), 0);
    int requests = 1;
    for (int k = 0; k < 128; ++k) {
        h.link.reply(h.seq, blockFrame(std::span(chip).subspan(static_cast<size_t>(k) * 16, 16), 0xAA));
        const auto sent = h.link.takeSent();
        requests += static_cast<int>(sent.size());
        // The request's free bytes repeat what the frame left at the start of the link buffer.
        if (k < 127) {
            ASSERT_EQ(sent, std::vector<Frame>{frame3(0x09, 0xAA, chip[static_cast<size_t>(k) * 16])}) << k;
        }
    }
    EXPECT_EQ(requests, 128);
    EXPECT_FALSE(h.seq.readMode());
    EXPECT_EQ(h.session.buffer().readBuffer(), chip);
    ASSERT_EQ(h.view.hex.size(), 128);
    EXPECT_EQ(h.view.hex[0x1F].left(12), "0001F0  F0 F");

    h.seq.Timer1Timer();
    EXPECT_EQ(h.view.statusText, "Reading   100%") << "the read's tail keeps its own text";
    h.link.reply(h.seq, {0x11});
    EXPECT_EQ(h.view.logLines.last(), "Read Finish !");
    EXPECT_EQ(h.view.statusText, "Read Finish");
    EXPECT_FALSE(h.seq.readFinishPending());
    EXPECT_FALSE(h.seq.DOGTimer4().enabled());
}

TEST(Read, ProgressRisesOverTheChipsBlocks) {
    Host h(6);
    h.seq.ReadButClick();
    for (int k = 0; k < 256; ++k)
        h.link.reply(h.seq, blockFrame(std::array<quint8, 16>{}));
    h.seq.Timer1Timer();
    EXPECT_EQ(h.view.progress, 50);
    EXPECT_EQ(h.view.statusText, "Reading   50%");
    EXPECT_EQ(h.view.statusColour, StatusColour::ButtonFace);
}

TEST(Read, ABlockFrameSplitAcrossNotificationsIsAssembledAndEachPartFeedsTheWatchdog) {
    Host h(0);
    h.seq.ReadButClick();
    h.link.takeSent();
    Frame f = blockFrame(std::array<quint8, 16>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    h.seq.DOGTimer4().setEnabled(false);
    h.link.reply(h.seq, Frame(f.begin(), f.begin() + 10));
    EXPECT_TRUE(h.seq.DOGTimer4().enabled());
    EXPECT_TRUE(h.link.takeSent().empty());
    EXPECT_EQ(h.seq.frameFill(), 10);
    h.seq.DOGTimer4().setEnabled(false);
    h.link.reply(h.seq, Frame(f.begin() + 10, f.end()));
    EXPECT_TRUE(h.seq.DOGTimer4().enabled());
    EXPECT_EQ(h.link.takeSent().size(), 1u);
    EXPECT_EQ(h.view.hex, QStringList{"000000  01 02 03 04 05 06 07 08  09 0A 0B 0C 0D 0E 0F 10"});
}

TEST(Read, ExtraBytesInAFrameAreNeverTakenAsChipContents) {
    Host h(0);
    h.seq.ReadButClick();
    h.link.takeSent();
    Frame f = blockFrame(std::array<quint8, 16>{});
    f.push_back(0x55); // one byte too many in the same notification
    h.link.reply(h.seq, f);
    h.link.reply(h.seq, blockFrame(std::array<quint8, 16>{}));
    EXPECT_TRUE(h.view.hex.isEmpty());
    EXPECT_TRUE(h.link.takeSent().empty()) << "the transfer stops; the watchdog reports it";
    h.seq.DOGTimer4Timer();
    EXPECT_EQ(h.seq.frameFill(), 0);
    // The next read starts clean.
    h.seq.ReadButClick();
    h.link.takeSent();
    h.link.reply(h.seq, blockFrame(std::array<quint8, 16>{}));
    EXPECT_EQ(h.view.hex.size(), 1);
}

TEST(Verify, ComparesBlocksUpToTheDataEndThenSendsTheStopFrame) {
    Host h(6);
    h.load(0x0010);
    h.seq.VerifyButClick();
    EXPECT_EQ(h.link.takeSent(), (std::vector<Frame>{{0x06, 0x04, 0x00}, {0x09, 0x04, 0x00}}));
    h.link.reply(h.seq, h.chipBlock(0));
    EXPECT_EQ(h.link.takeSent(), std::vector<Frame>{frame3(0x09, 0x00, h.block(0)[0])});
    h.seq.Timer1Timer();
    EXPECT_EQ(h.view.statusText, "Verifying   50%");
    h.link.reply(h.seq, h.chipBlock(1));
    EXPECT_EQ(h.link.takeSent(), std::vector<Frame>{frame3(0x10, 0x00, h.block(1)[0])});
    EXPECT_EQ(h.sleeps.back(), 50);
    EXPECT_EQ(h.view.logLines, QStringList({"Verifying Now ...... Please Wait !", "Verify Succssed !"}));
    EXPECT_EQ(h.view.statusText, "OK   ");
    EXPECT_FALSE(h.seq.verifyMode());
}

TEST(Verify, AMismatchStopsAtTheFirstDifferingAddress) {
    Host h(6);
    h.load(0x0400);
    h.session.buffer().store(0x123, 0xFF);
    h.seq.VerifyButClick();
    h.link.takeSent();
    for (int k = 0; k < 0x12; ++k)
        h.link.reply(h.seq, h.chipBlock(k));
    h.link.takeSent();
    Frame bad = h.chipBlock(0x12);
    bad[2 + 3] = 0x00;
    bad[2 + 9] ^= 0xFF; // a later difference in the same block is not reported
    h.link.reply(h.seq, bad);
    EXPECT_EQ(h.link.takeSent(), std::vector<Frame>{frame3(0x10, bad[1], bad[2])});
    EXPECT_EQ(h.view.logLines.mid(1), QStringList({"Verify Fail !", " Fail ID :000123H    Fail Data :FFH"}));
    EXPECT_EQ(h.view.statusText, "Verify Error !");
    EXPECT_EQ(h.view.statusColour, StatusColour::Failure);
    EXPECT_EQ(h.view.beeps, (std::vector<std::pair<int, int>>{{784, 100}, {784, 100}}));
    EXPECT_EQ(h.ends, std::vector<bool>{false});
    EXPECT_FALSE(h.seq.verifyMode());
    EXPECT_FALSE(h.seq.DOGTimer4().enabled());
}

TEST(Auto, RunsEraseProgramVerifyAndLockWithTheLockLevel) {
    for (bool twoByteReplies : {false, true}) {
        Host h(7);
        h.load(0x001F);
        h.session.setLockLevel(3);
        h.seq.AutoProButClick();
        EXPECT_EQ(h.link.takeSent(), std::vector<Frame>{frame3(0x07, 0x01, 0x03)});
        h.link.reply(h.seq, twoByteReplies ? Frame{0x06, 0x01} : Frame{0x06});
        EXPECT_EQ(h.seq.DOGTimer4().interval(), 800);
        EXPECT_TRUE(h.seq.Timer1().enabled());
        h.link.reply(h.seq, {0x03});
        h.link.reply(h.seq, {0x03});
        EXPECT_EQ(h.link.takeSent().size(), 3u);
        h.seq.Timer1Timer();
        EXPECT_EQ(h.view.statusText, "Programming   100%");
        h.link.reply(h.seq, twoByteReplies ? Frame{0x07, 0x01} : Frame{0x07});
        EXPECT_NE(h.view.statusText, "OK   ") << "no success before the verification";
        EXPECT_EQ(h.link.takeSent(), (std::vector<Frame>{{0x07, 0x04, 0x00}, {0x09, 0x04, 0x00}}));
        EXPECT_TRUE(h.seq.DOGTimer4().enabled());
        h.link.reply(h.seq, h.chipBlock(0));
        h.link.takeSent();
        h.link.reply(h.seq, h.chipBlock(1));
        EXPECT_EQ(h.link.takeSent(),
                  (std::vector<Frame>{frame3(0x10, 0x00, h.block(1)[0]), frame3(0x07, 0x06, 0x03)}));
        EXPECT_FALSE(h.seq.autoLockPending());
        EXPECT_TRUE(h.ends.empty()) << "the run is not over before its Lock is answered";
        h.link.reply(h.seq, {0x09});
        EXPECT_EQ(h.ends, std::vector<bool>{true});
        EXPECT_EQ(h.view.logLines,
                  QStringList({"Erasing Now ......Please Wait !", "Programming Now ...... Please Wait !",
                               "Program Succssed!", "Verifying Now ...... Please Wait !", "Verify Succssed !",
                               "Lock Succssed !"}));
        EXPECT_EQ(h.sleeps, (std::vector<int>{50, 100, 40, 50}));
    }
}

TEST(Replies, ContinuationFollowsTheSecondByteOrTheLastCommand) {
    struct Case {
        bool autoRun;
        Frame reply;
        bool continues;
    };
    for (const Case& c :
         {Case{true, {0x06}, true}, Case{false, {0x06}, false}, Case{true, {0x06, 0x00}, false},
          Case{false, {0x06, 0x01}, true}, Case{true, {0x06, 0x01, 0x02}, true}}) {
        Host h;
        h.load(0x20);
        if (c.autoRun)
            h.seq.AutoProButClick();
        else
            h.seq.EraseButClick();
        h.link.reply(h.seq, c.reply);
        EXPECT_EQ(h.view.logLines.last(),
                  c.continues ? "Programming Now ...... Please Wait !" : "Earse Succssed !");
        if (!c.continues) {
            EXPECT_EQ(h.view.statusText, " Earse Succssed ");
            EXPECT_FALSE(h.seq.DOGTimer4().enabled());
        }
    }
}

TEST(Replies, OnlyTheFirstStatusOfANotificationCountsAndUnknownOnesAreIgnored) {
    Host h;
    h.link.reply(h.seq, {0x11}); // no read was started
    h.link.reply(h.seq, {0x42});
    EXPECT_TRUE(h.view.logLines.isEmpty());
    h.link.reply(h.seq, {0x09, 0x02});
    EXPECT_EQ(h.view.logLines, QStringList{"Lock Succssed !"});
    h.link.reply(h.seq, {0x02, 0x09});
    EXPECT_EQ(h.view.logLines, QStringList({"Lock Succssed !", "Programmer is Ready !"}));
}

// The phases of the operations that wait for a one-byte status, with the statuses that belong to each.
enum class Phase { Erase, AutoErase, Program, AutoProgram, ReadEnd, Lock, AutoLock };

struct PhaseCase {
    Phase phase;
    const char* name;
    std::vector<quint8> belonging;
    QString doing;
};

void bringTo(Host& h, Phase phase) {
    h.load(0x1F);
    switch (phase) {
    case Phase::Erase:
        h.seq.EraseButClick();
        break;
    case Phase::AutoErase:
        h.seq.AutoProButClick();
        break;
    case Phase::Program:
        h.seq.ProgramButClick();
        h.link.reply(h.seq, {0x03});
        break;
    case Phase::AutoProgram:
        h.seq.AutoProButClick();
        h.link.reply(h.seq, {0x06});
        h.link.reply(h.seq, {0x03});
        break;
    case Phase::ReadEnd:
        h.seq.ReadButClick();
        for (size_t k = 0; k < h.session.buffer().readBuffer().size() / 16; ++k)
            h.link.reply(h.seq, blockFrame(std::array<quint8, 16>{}));
        ASSERT_FALSE(h.seq.readMode());
        break;
    case Phase::Lock:
        h.seq.sendLock();
        break;
    case Phase::AutoLock:
        h.seq.AutoProButClick();
        h.link.reply(h.seq, {0x06});
        h.link.reply(h.seq, {0x03});
        h.link.reply(h.seq, {0x03});
        h.link.reply(h.seq, {0x07});
        h.link.reply(h.seq, h.chipBlock(0));
        h.link.reply(h.seq, h.chipBlock(1));
        ASSERT_EQ(h.link.sent.back(), frame3(0x06, 0x06, 0x00)) << "the Lock was sent";
        break;
    }
    h.link.takeSent();
    h.view.logLines.clear();
    ASSERT_TRUE(h.ends.empty());
}

TEST(UnexpectedStatus, AKnownStatusThatCannotEndTheOperationUnderWayFailsIt) {
    const std::vector<PhaseCase> phases = {
        {Phase::Erase, "erase", {0x01, 0x06}, "Erasing"},
        {Phase::AutoErase, "auto erase", {0x01, 0x06}, "Erasing"},
        {Phase::Program, "program after block 0", {0x01, 0x03, 0x07}, "Programming"},
        {Phase::AutoProgram, "auto program after block 0", {0x01, 0x03, 0x07}, "Programming"},
        {Phase::ReadEnd, "read end", {0x01, 0x11}, "Reading"},
        {Phase::Lock, "lock", {0x01, 0x09}, "Locking"},
        {Phase::AutoLock, "auto lock", {0x01, 0x09}, "Locking"},
    };
    for (const PhaseCase& p : phases) {
        for (const quint8 status : {0x01, 0x02, 0x03, 0x06, 0x07, 0x09, 0x11, 0x42}) {
            SCOPED_TRACE(std::string(p.name) + " answered " + std::to_string(status));
            Host h;
            bringTo(h, p.phase);
            const size_t beepsBefore = h.view.beeps.size();
            h.link.reply(h.seq, {status});
            const bool belongs =
                std::find(p.belonging.begin(), p.belonging.end(), status) != p.belonging.end();
            if (status == 0x42) {
                // Not a status at all: ignored, as ever; the watchdog (or the caller's limit) covers the
                // wait.
                EXPECT_TRUE(h.ends.empty());
                EXPECT_TRUE(h.view.logLines.isEmpty());
                continue;
            }
            if (belongs) {
                EXPECT_NE(h.seq.lastEnding(), Sequencer::Ending::UnexpectedReply);
                continue;
            }
            EXPECT_EQ(h.ends, std::vector<bool>{false});
            EXPECT_EQ(h.seq.lastEnding(), Sequencer::Ending::UnexpectedReply);
            const QString text = QStringLiteral("Unexpected Reply %1H While %2 !  Please Check!")
                                     .arg(status, 2, 16, QLatin1Char('0'))
                                     .arg(p.doing);
            EXPECT_EQ(h.view.logLines, QStringList{text});
            EXPECT_EQ(h.seq.unexpectedReplyText(), text);
            EXPECT_EQ(h.view.statusText, "E r r o r !   ");
            EXPECT_EQ(h.view.beeps.size(), beepsBefore + 2);
            EXPECT_FALSE(h.seq.DOGTimer4().enabled());
            EXPECT_FALSE(h.seq.Timer1().enabled());
            EXPECT_FALSE(h.seq.autoLockPending());
            EXPECT_FALSE(h.seq.readFinishPending());
            EXPECT_TRUE(h.link.sent.empty()) << "nothing more is sent for a run that failed";
            // The operation is over: the same status again is what it is when nothing runs.
            h.link.reply(h.seq, {0x02});
            EXPECT_EQ(h.view.logLines.last(), "Programmer is Ready !");
        }
    }
}

TEST(UnexpectedStatus, AnAutoRunAnsweredWithAPlainEraseEndsThereWithoutItsLock) {
    Host h;
    h.load(0x0F);
    h.seq.AutoProButClick();
    h.link.reply(h.seq, {0x06, 0x00});
    EXPECT_EQ(h.view.logLines.last(), "Earse Succssed !");
    EXPECT_EQ(h.ends, std::vector<bool>{true});
    EXPECT_EQ(h.seq.lastEnding(), Sequencer::Ending::Erased);
    EXPECT_FALSE(h.seq.autoLockPending());
}

TEST(Starts, WithoutAFileProgramVerifyAndAutoRefuseAndSendNothing) {
    Host h;
    h.session.clearCode();
    for (auto start : {&Sequencer::ProgramButClick, &Sequencer::VerifyButClick, &Sequencer::AutoProButClick})
        (h.seq.*start)();
    EXPECT_EQ(h.view.messages, QStringList(3, "Please Open *.Hex or *.Bin File Firstly !"));
    EXPECT_TRUE(h.link.sent.empty());
    EXPECT_FALSE(h.seq.manualProgram()) << "a refused Program leaves no mark behind";
}

TEST(Starts, CommandsCarryTheChipIndexAndTheLockLevel) {
    Host h(7);
    h.seq.EraseButClick();
    h.session.confirmChip(6);
    h.session.setLockLevel(2);
    h.seq.sendLock();
    h.session.setLockLevel(0);
    h.seq.sendLock();
    h.session.setLockLevel(-1); // nothing selected in the dialog
    h.seq.sendLock();
    EXPECT_EQ(
        h.link.takeSent(),
        (std::vector<Frame>{{0x07, 0x02, 0x00}, {0x06, 0x06, 0x02}, {0x06, 0x06, 0x00}, {0x06, 0x06, 0xFF}}));
    EXPECT_FALSE(h.seq.Timer1().enabled()) << "a Lock runs no progress display";
}

TEST(PendingLock, AnAutoRunThatEndsEarlyNeverLocksAfterALaterVerification) {
    enum class End { ProgramFailure, Mismatch, Watchdog, NewStart };
    for (End end : {End::ProgramFailure, End::Mismatch, End::Watchdog, End::NewStart}) {
        Host h;
        h.load(0x0F);
        h.seq.AutoProButClick();
        h.link.reply(h.seq, {0x06});
        switch (end) {
        case End::ProgramFailure:
            h.link.reply(h.seq, {0x01});
            EXPECT_EQ(h.view.logLines.last(), "Program Fail !  Please Check!");
            EXPECT_EQ(h.view.statusText, "E r r o r !   ");
            break;
        case End::Mismatch: {
            h.link.reply(h.seq, {0x03});
            h.link.reply(h.seq, {0x07});
            Frame bad = h.chipBlock(0);
            bad[2] ^= 1;
            h.link.reply(h.seq, bad);
            break;
        }
        case End::Watchdog:
            h.seq.DOGTimer4Timer();
            break;
        case End::NewStart:
            h.seq.EraseButClick();
            break;
        }
        EXPECT_FALSE(h.seq.autoLockPending());
        h.link.takeSent();
        h.seq.VerifyButClick();
        h.link.reply(h.seq, h.chipBlock(0));
        EXPECT_EQ(h.view.logLines.last(), "Verify Succssed !");
        const auto sent = h.link.takeSent();
        for (const Frame& f : sent)
            EXPECT_NE(f[1], 0x06) << "no Lock command may follow";
    }
}

TEST(Watchdog, ReportsTheConnectionAndReturnsToIdle) {
    Host h(0);
    h.seq.CheckBox1Click(true);
    h.seq.ReadButClick();
    h.link.reply(h.seq, blockFrame(std::array<quint8, 16>{}));
    h.seq.DOGTimer4Timer();
    EXPECT_EQ(h.view.logLines.last(), watchdogText);
    EXPECT_EQ(h.ends, std::vector<bool>{false});
    EXPECT_EQ(h.view.statusText, "E r r o r !   ");
    EXPECT_EQ(h.view.progress, 0);
    EXPECT_EQ(h.seq.blockIndex(), 0);
    EXPECT_FALSE(h.seq.readMode());
    EXPECT_FALSE(h.seq.readFinishPending());
    for (IntervalTimer* t : {&h.seq.Timer1(), &h.seq.Timer2(), &h.seq.Timer3(), &h.seq.DOGTimer4()})
        EXPECT_FALSE(t->enabled());
    EXPECT_EQ(h.seq.DOGTimer4().interval(), 1000);
    EXPECT_EQ(h.view.beeps.size(), 2u);
    // A late end reply of the stopped read does nothing.
    h.link.reply(h.seq, {0x11});
    EXPECT_EQ(h.view.logLines.last(), watchdogText);
}

TEST(ReadyCheck, LooksAtEverythingTheProbeBrought) {
    // How the answer stands when the check fires: handled, arrived with its notification still on the way,
    // or never sent.
    enum class Answer { Handled, Arrived, Silent };
    for (Answer answer : {Answer::Handled, Answer::Arrived, Answer::Silent}) {
        SCOPED_TRACE(static_cast<int>(answer));
        Host h;
        // The check is started by the window's start-up, not by the sequencer's construction.
        EXPECT_FALSE(h.seq.Timer2().enabled());
        h.seq.Timer2().setEnabled(true);
        h.seq.sendProbe();
        EXPECT_EQ(h.link.takeSent(), std::vector<Frame>{frame3(0xFA, 0x00, 0x00)});
        EXPECT_EQ(h.sleeps, std::vector<int>{30});
        if (answer == Answer::Handled) h.link.reply(h.seq, {0x02});
        if (answer == Answer::Arrived) h.link.arrive({0x02});
        h.seq.Timer2Timer();
        const bool found = answer != Answer::Silent;
        EXPECT_EQ(h.view.logLines.contains("Programmer  Not  Found !"), !found);
        EXPECT_EQ(h.view.logLines.count("Programmer is Ready !"), found ? 1 : 0);
        EXPECT_FALSE(h.seq.Timer2().enabled());
        // The notification that comes after finds its bytes already taken and changes nothing.
        if (answer == Answer::Arrived) h.seq.ComPortRxChar(1);
        EXPECT_EQ(h.view.logLines.count("Programmer is Ready !"), found ? 1 : 0);
    }
}

TEST(Starts, AFailedWriteEndsTheHandlerAtTheWrite) {
    Host h;
    h.load(0x20);
    h.link.failWrites = true;
    EXPECT_THROW(h.seq.VerifyButClick(), std::runtime_error);
    EXPECT_TRUE(h.seq.Timer1().enabled()) << "steps before the write stay done";
    EXPECT_TRUE(h.seq.DOGTimer4().enabled());
    EXPECT_EQ(h.view.logLines, QStringList{"Verifying Now ...... Please Wait !"});
    EXPECT_TRUE(h.sleeps.empty()) << "steps after the write do not happen";
}
