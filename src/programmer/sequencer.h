#pragma once

#include "programmer/hostsession.h"
#include "programmer/intervaltimer.h"
#include "programmer/linkport.h"
#include "programmer/linkprotocol.h"

#include <QObject>

#include <array>
#include <functional>
#include <vector>

// The programmer operations (Erase, Program, Verify, Read, Lock, Auto), the byte protocol that carries them,
// and the four timers around them: progress display, start-up ready check, file watch and watchdog.
// Everything runs on the main thread; the state is a set of flags, not a state variable, and a new start
// simply overwrites them.
//
// A failed write raises out of the handler that made it; the steps after the write do not happen.
class Sequencer : public QObject {
    Q_OBJECT
public:
    // Command codes of byte 1 of a command frame.
    enum Command : quint8 {
        CmdAuto = protocol::commandAuto,
        CmdErase = protocol::commandErase,
        CmdProgram = protocol::commandProgram,
        CmdRead = protocol::commandRead,
        CmdLock = protocol::commandLock
    };

    Sequencer(HostSession& session, LinkPort& port, QObject* parent = nullptr);

    // Blocking waits of the protocol (30, 40, 50 and 100 ms); tests may replace them.
    void setSleep(std::function<void(int)> sleep) { sleep_ = std::move(sleep); }
    // The file watch, called on every tick of Timer3 with whether it may reload now (false while an operation
    // is under way); returns true when it reloaded the file, to start the Auto run.
    void setFileWatch(std::function<bool(bool mayReload)> reloadIfChanged) {
        fileWatch_ = std::move(reloadIfChanged);
    }

    // Start-up: the probe [0xFA, 0, 0], 30 ms after the port opened.
    void sendProbe();

    // Starts, as the buttons give them.
    void EraseButClick();
    void ProgramButClick();
    void VerifyButClick();
    void ReadButClick();
    void AutoProButClick();
    // The lock-bit dialog's confirm: the Lock command with the chosen level.
    void sendLock();

    // Bytes have arrived: count of them wait in the port's input queue.
    void ComPortRxChar(int count);

    // ISP auto switch.
    void CheckBox1Click(bool checked);

    // Timer handlers (public for tests; the timers call them).
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void DOGTimer4Timer();

    IntervalTimer& Timer1() { return timer1_; }
    IntervalTimer& Timer2() { return timer2_; }
    IntervalTimer& Timer3() { return timer3_; }
    IntervalTimer& DOGTimer4() { return watchdog_; }

    // State, for the views and the tests.
    int blockIndex() const { return blockIndex_; }
    int frameFill() const { return frameFill_; }
    bool readMode() const { return readMode_; }
    bool verifyMode() const { return verifyMode_; }
    bool readFinishPending() const { return readFinishPending_; }
    bool autoLockPending() const { return autoLockPending_; }
    bool manualProgram() const { return manualProgram_; }
    bool windowRaised() const { return windowRaised_; }
    // A command was sent and its operation has not yet reported its end (operationEnded).
    bool operationUnderWay() const { return operationUnderWay_; }
    quint8 linkByte(int i) const { return link_.at(static_cast<size_t>(i)); }

    // How the last operation ended, for callers that asked for a particular one (the command-line tool).
    enum class Ending {
        None,
        Ready,
        Erased,
        Programmed,
        Verified,
        Read,
        Locked,
        ProgramFailed,
        VerifyFailed,
        NoAnswer,
        UnexpectedReply
    };
    Ending lastEnding() const { return lastEnding_; }
    // The log line of a successful ending (empty for the others).
    static QString endingText(Ending ending);
    // Whether the operation under way waits for a one-byte status (an erase, a program, a read's end, a
    // Lock).
    bool replyAwaited() const { return awaiting_ != Awaiting::Nothing; }
    // For an unexpected reply: which byte came while what was awaited; empty otherwise.
    const QString& unexpectedReplyText() const { return unexpectedReplyText_; }
    // Gives up the operation under way without a word and without an ending (its user stopped it): timers
    // off, every run flag and the awaited reply cleared.
    void cancelRun();

signals:
    // An operation came to its end: success for "Programmer is Ready !", a finished erase, program (started
    // from its button), verification (when no Lock follows), read or lock; failure for a program failure, a
    // verify mismatch or the watchdog. An Auto run ends with its Lock, or with its failure.
    void operationEnded(bool success);
    // The watchdog ran out: no answer came within waitedMs of the last byte.
    void noAnswer(int waitedMs);
    // A verification found the chip's byte at address differing from the file's (the wire trace notes it).
    void verifyMismatch(int address, int fileByte, int chipByte);

private:
    HostView& view() { return session_.view(); }
    const CodeBuffer& buffer() const { return session_.buffer(); }

    // Frames.
    void write(std::span<const quint8> bytes);
    void sendCommand(quint8 code, quint8 parameter);
    void sendControl(quint8 first);
    void sendDataFrame(int k);
    void sendEndFrame();

    // Receiving.
    void blockMode(std::span<const quint8> bytes);
    void blockComplete();
    void statusMode(quint8 status);

    // Starts shared by the buttons and the Auto run's own continuation.
    bool refuseWithoutFile();
    void forgetEarlierRun();
    // False when it was refused (no file loaded).
    bool startVerify();

    // Outcomes.
    void ready();
    void programFailed();
    void eraseFinished(bool continuation);
    void programFinished(bool continuation);
    void verifyFailed(int address);
    void verifyPassed();
    void readFinished();
    void lockFinished();
    void unexpectedReply(quint8 status);
    // Ends whatever runs, without a word: progress and watchdog off, every run flag cleared.
    void abandonRun();
    void ended(Ending how);
    void errorBeep();
    void restartWatchdog();
    void endTransfer();
    void stopProgressWithoutWatchdog();

    HostSession& session_;
    LinkPort& port_;
    std::function<void(int)> sleep_;
    std::function<bool(bool)> fileWatch_;
    bool operationUnderWay_ = false;
    // Timer3 ticks (600 ms) without a byte from the programmer while no watchdog runs: after 5 (3 s) an
    // operation whose reply stays out no longer counts as under way for the file watch.
    static constexpr int abandonedAfterTicks = 5;
    int quietWatchTicks_ = 0;

    // The link buffer: frames are composed in it and received bytes land at its start, so its free bytes
    // repeat earlier content, and byte 1 carries the continuation flag of a one-byte reply (the last
    // command's code).
    std::array<quint8, 3> link_{};
    std::array<quint8, protocol::frameSize> frame_{};
    int frameFill_ = 0;
    int blockIndex_ = 0;
    std::vector<quint8> received_;

    bool readMode_ = false;
    bool verifyMode_ = false;
    bool readFinishPending_ = false;
    bool autoLockPending_ = false;
    bool manualProgram_ = false;
    bool windowRaised_ = false;

    // The one-byte reply an operation under way waits for. Any other known status cannot belong to it: a
    // programmer that reset, or noise on the line, and the operation ends as a failure instead of passing.
    enum class Awaiting { Nothing, Erase, AutoErase, Program, ReadEnd, Lock };
    static bool belongsTo(Awaiting awaited, quint8 status);
    static QString describe(Awaiting awaited);
    Awaiting awaiting_ = Awaiting::Nothing;
    Ending lastEnding_ = Ending::None;
    QString unexpectedReplyText_;

    IntervalTimer timer1_;
    IntervalTimer timer2_;
    IntervalTimer timer3_;
    IntervalTimer watchdog_;
};
