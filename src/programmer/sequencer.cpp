#include "programmer/sequencer.h"

#include "buffer/dumpline.h"
#include "platform/sleep.h"

#include <algorithm>

namespace {

using protocol::blockRequest;
using protocol::frameSize;
using protocol::probeByte;
using protocol::stopFrame;

constexpr int watchdogMs = 1000;
constexpr int autoEraseWatchdogMs = 800;
constexpr int beepHz = 784;

const QString noFileText = QStringLiteral("Please Open *.Hex or *.Bin File Firstly !");
const QString errorLabel = QStringLiteral("E r r o r !   ");
const QString okLabel = QStringLiteral("OK   ");

QString hex(int value, int digits) {
    return QStringLiteral("%1").arg(static_cast<uint>(value), digits, 16, QLatin1Char('0')).toUpper();
}

} // namespace

Sequencer::Sequencer(HostSession& session, LinkPort& port, QObject* parent)
    : QObject(parent), session_(session), port_(port), sleep_(platform::sleepMs),
      timer1_(
          100, false, [this] { Timer1Timer(); }, this),
      timer2_(
          100, false, [this] { Timer2Timer(); }, this),
      timer3_(
          600, false, [this] { Timer3Timer(); }, this),
      watchdog_(
          watchdogMs, false,
          [this] {
              emit noAnswer(watchdog_.interval());
              DOGTimer4Timer();
          },
          this) {}

// ---- frames

void Sequencer::write(std::span<const quint8> bytes) {
    port_.WriteBytes(bytes);
}

void Sequencer::sendCommand(quint8 code, quint8 parameter) {
    link_ = {static_cast<quint8>(session_.chipIndex()), code, parameter};
    write(link_);
    operationUnderWay_ = true;
    quietWatchTicks_ = 0;
}

void Sequencer::sendControl(quint8 first) {
    link_[0] = first;
    write(link_);
}

void Sequencer::sendDataFrame(int k) {
    const std::span<const quint8> block = buffer().codeBlock(k);
    std::array<quint8, frameSize> frame{};
    frame[0] = protocol::dataFrame;
    frame[1] = protocol::dataFrame;
    std::copy(block.begin(), block.end(), frame.begin() + 2);
    write(frame);
}

void Sequencer::sendEndFrame() {
    std::array<quint8, frameSize> frame{};
    frame[0] = protocol::endFrame;
    write(frame);
}

void Sequencer::sendProbe() {
    sleep_(protocol::probeDelayMs);
    link_[0] = probeByte;
    write(link_);
}

// ---- receiving

void Sequencer::ComPortRxChar(int count) {
    if (count <= 0) return;
    received_.resize(static_cast<size_t>(count));
    const int n = port_.ReadBytes(received_);
    if (n <= 0) return;
    quietWatchTicks_ = 0;
    received_.resize(static_cast<size_t>(n));
    // Received bytes overwrite the start of the link buffer; the bytes behind them keep their values.
    std::copy_n(received_.begin(), std::min<size_t>(received_.size(), link_.size()), link_.begin());

    if (readMode_ || verifyMode_)
        blockMode(received_);
    else
        statusMode(received_[0]);
}

void Sequencer::blockMode(std::span<const quint8> bytes) {
    for (const quint8 byte : bytes) {
        // Bytes past a frame's 18 are counted but not kept: a notification that runs past the frame's end
        // leaves the fill off 18, so the transfer stops and the watchdog reports it rather than taking
        // misaligned bytes as chip contents.
        if (frameFill_ < frameSize) frame_[static_cast<size_t>(frameFill_)] = byte;
        if (frameFill_ <= frameSize) ++frameFill_;
        restartWatchdog();
    }
    if (frameFill_ != frameSize) return;
    frameFill_ = 0;
    blockComplete();
}

void Sequencer::blockComplete() {
    const int k = blockIndex_;
    const std::span<const quint8, blockSize> data(frame_.data() + 2, blockSize);
    session_.buffer().storeReadBlock(k, data);

    if (verifyMode_) {
        const std::span<const quint8> expected = buffer().codeBlock(k);
        for (size_t i = 0; i < data.size(); ++i) {
            if (i >= expected.size() || data[i] != expected[i]) {
                const int at = k * blockSize + static_cast<int>(i);
                emit verifyMismatch(at, i < expected.size() ? expected[i] : buffer().fillByte(), data[i]);
                verifyFailed(at);
                sendControl(stopFrame);
                return;
            }
        }
        ++blockIndex_;
        if (blockIndex_ >= buffer().imageBlockCount()) {
            sleep_(50);
            sendControl(stopFrame);
            verifyPassed();
        } else {
            sendControl(blockRequest);
        }
        return;
    }

    view().appendHexLine(dumpLine(k * blockSize, data));
    ++blockIndex_;
    if (blockIndex_ >= buffer().readBlockCount())
        readMode_ = false; // the programmer ends the read with 0x11 by itself
    else
        sendControl(blockRequest);
}

bool Sequencer::belongsTo(Awaiting awaited, quint8 status) {
    switch (status) {
    case 0x01: // the programmer's failure ends whatever runs
        return true;
    case 0x02:
        return awaited == Awaiting::Nothing;
    case 0x03:
    case 0x07:
        return awaited == Awaiting::Nothing || awaited == Awaiting::Program;
    case 0x06:
        return awaited == Awaiting::Nothing || awaited == Awaiting::Erase || awaited == Awaiting::AutoErase;
    case 0x09:
        return awaited == Awaiting::Nothing || awaited == Awaiting::Lock;
    case 0x11:
        return awaited == Awaiting::Nothing || awaited == Awaiting::ReadEnd;
    default:
        return true; // not a status the host knows: ignored below
    }
}

QString Sequencer::describe(Awaiting awaited) {
    switch (awaited) {
    case Awaiting::Erase:
    case Awaiting::AutoErase:
        return QStringLiteral("Erasing");
    case Awaiting::Program:
        return QStringLiteral("Programming");
    case Awaiting::ReadEnd:
        return QStringLiteral("Reading");
    case Awaiting::Lock:
        return QStringLiteral("Locking");
    case Awaiting::Nothing:
        break;
    }
    return QString();
}

void Sequencer::statusMode(quint8 status) {
    if (!belongsTo(awaiting_, status)) {
        unexpectedReply(status);
        return;
    }
    const bool continuation = link_[1] == 0x01;
    switch (status) {
    case 0x01:
        programFailed();
        break;
    case 0x02:
        ready();
        break;
    case 0x03: {
        // A request past the image (after the end frame, or with no image) is not answered: nothing outside
        // the code buffer is ever sent, and the watchdog reports a programmer that keeps waiting.
        const int count = buffer().imageBlockCount();
        if (blockIndex_ >= count) break;
        sendDataFrame(blockIndex_);
        ++blockIndex_;
        if (blockIndex_ == count) {
            sleep_(50);
            sendEndFrame();
        }
        restartWatchdog();
        break;
    }
    case 0x06:
        eraseFinished(continuation);
        break;
    case 0x07:
        programFinished(continuation);
        break;
    case 0x09:
        lockFinished();
        break;
    case 0x11:
        if (readFinishPending_) readFinished();
        break;
    default:
        break; // not a status the host knows
    }
}

// ---- starts

bool Sequencer::refuseWithoutFile() {
    if (buffer().dataEnd() > 0) return false;
    view().showMessage(noFileText);
    return true;
}

void Sequencer::forgetEarlierRun() {
    // A start by the user ends whatever ran before: a pending Lock of an earlier Auto run, or an awaited read
    // end, must not act on this operation.
    autoLockPending_ = false;
    readFinishPending_ = false;
    manualProgram_ = false;
    awaiting_ = Awaiting::Nothing;
}

void Sequencer::EraseButClick() {
    forgetEarlierRun();
    readMode_ = false;
    sendCommand(CmdErase, 0);
    awaiting_ = Awaiting::Erase;
    watchdog_.setInterval(watchdogMs);
    watchdog_.setEnabled(true);
    view().log(QStringLiteral("Erasing Now ...... Please Wait !"));
}

void Sequencer::ProgramButClick() {
    forgetEarlierRun();
    readMode_ = false;
    if (refuseWithoutFile()) return;
    manualProgram_ = true;
    blockIndex_ = 0;
    sendCommand(CmdProgram, 0);
    awaiting_ = Awaiting::Program;
    timer1_.setEnabled(true);
    watchdog_.setEnabled(true);
    view().log(QStringLiteral("Programming Now ...... Please Wait !"));
}

void Sequencer::VerifyButClick() {
    forgetEarlierRun();
    startVerify();
}

bool Sequencer::startVerify() {
    if (refuseWithoutFile()) return false;
    view().log(QStringLiteral("Verifying Now ...... Please Wait !"));
    verifyMode_ = true;
    frameFill_ = 0;
    timer1_.setEnabled(true);
    watchdog_.setEnabled(true);
    sendCommand(CmdRead, 0);
    sleep_(40);
    blockIndex_ = 0;
    sendControl(blockRequest);
    return true;
}

void Sequencer::ReadButClick() {
    forgetEarlierRun();
    readMode_ = true;
    readFinishPending_ = true;
    awaiting_ = Awaiting::ReadEnd; // the blocks come in block mode; the end reply after them
    frameFill_ = 0;
    timer1_.setEnabled(true);
    // Armed before the writes: if one fails (an unplugged adapter), the read is in block mode with its
    // progress running, and only the watchdog brings the host back to idle with a message.
    watchdog_.setInterval(watchdogMs);
    watchdog_.setEnabled(true);
    sendCommand(CmdRead, 0);
    sleep_(40);
    sendControl(blockRequest);
    view().clearHexView();
    blockIndex_ = 0;
    view().log(QStringLiteral("Reading Now ...... Please Wait !"));
}

void Sequencer::AutoProButClick() {
    forgetEarlierRun();
    readMode_ = false;
    if (refuseWithoutFile()) return;
    autoLockPending_ = true;
    blockIndex_ = 0;
    sendCommand(CmdAuto, static_cast<quint8>(session_.lockLevel()));
    awaiting_ = Awaiting::AutoErase;
    watchdog_.setInterval(watchdogMs);
    watchdog_.setEnabled(true);
    view().log(QStringLiteral("Erasing Now ......Please Wait !"));
}

void Sequencer::sendLock() {
    forgetEarlierRun();
    sendCommand(CmdLock, static_cast<quint8>(session_.lockLevel()));
    awaiting_ = Awaiting::Lock;
}

// ---- outcomes

void Sequencer::restartWatchdog() {
    watchdog_.setEnabled(false);
    watchdog_.setInterval(watchdogMs);
    watchdog_.setEnabled(true);
}

void Sequencer::stopProgressWithoutWatchdog() {
    // A reply that disarms the watchdog in the middle of a transfer (a stray 0x02, 0x06 or 0x09 on the line)
    // would otherwise leave the progress display running for ever, showing a transfer that nothing watches.
    timer1_.setEnabled(false);
}

void Sequencer::endTransfer() {
    blockIndex_ = 0;
    view().setProgress(0);
}

void Sequencer::errorBeep() {
    view().beep(beepHz, 100);
    sleep_(100);
    view().beep(beepHz, 100);
}

void Sequencer::ready() {
    view().log(endingText(Ending::Ready));
    watchdog_.setEnabled(false);
    stopProgressWithoutWatchdog();
    blockIndex_ = 0;
    ended(Ending::Ready);
}

void Sequencer::programFailed() {
    view().log(QStringLiteral("Program Fail !  Please Check!"));
    endTransfer();
    view().setStatus(errorLabel, StatusColour::Failure);
    timer1_.setEnabled(false);
    watchdog_.setEnabled(false);
    autoLockPending_ = false; // the run is over: its Lock must not follow a later verification
    manualProgram_ = false;
    errorBeep();
    ended(Ending::ProgramFailed);
}

void Sequencer::eraseFinished(bool continuation) {
    if (continuation) {
        awaiting_ = Awaiting::Program;
        watchdog_.setInterval(autoEraseWatchdogMs);
        watchdog_.setEnabled(true);
        timer1_.setEnabled(true);
        view().log(QStringLiteral("Programming Now ...... Please Wait !"));
        return;
    }
    view().log(endingText(Ending::Erased));
    blockIndex_ = 0;
    view().beep(beepHz, 200);
    view().setStatus(QStringLiteral(" Earse Succssed "), StatusColour::Success);
    watchdog_.setEnabled(false);
    stopProgressWithoutWatchdog();
    autoLockPending_ = false; // an Auto run answered with a plain erase ends there: no later Lock
    ended(Ending::Erased);
}

void Sequencer::programFinished(bool continuation) {
    view().log(endingText(Ending::Programmed));
    timer1_.setEnabled(false);
    endTransfer();
    if (manualProgram_) {
        view().beep(beepHz, 200);
        view().setStatus(okLabel, StatusColour::Success);
        manualProgram_ = false;
        watchdog_.setEnabled(false);
        if (!continuation) ended(Ending::Programmed);
    }
    if (continuation) {
        awaiting_ = Awaiting::Nothing; // the verification reads in block mode
        sleep_(100);
        // A continuation with no image to verify (a stray reply) starts nothing, so nothing to display
        // either.
        if (startVerify()) timer1_.setEnabled(true);
    }
}

void Sequencer::verifyFailed(int address) {
    view().log(QStringLiteral("Verify Fail !"));
    verifyMode_ = false;
    readMode_ = false;
    endTransfer();
    view().setStatus(QStringLiteral("Verify Error !"), StatusColour::Failure);
    timer1_.setEnabled(false);
    watchdog_.setEnabled(false);
    autoLockPending_ = false; // a chip that failed verification is never locked
    const auto& code = buffer().code();
    const int expected = address >= 0 && static_cast<size_t>(address) < code.size()
                             ? code[static_cast<size_t>(address)]
                             : buffer().fillByte();
    view().log(QStringLiteral(" Fail ID :") + hex(address, 6) + QStringLiteral("H    Fail Data :") +
               hex(expected, 2) + QStringLiteral("H"));
    errorBeep();
    ended(Ending::VerifyFailed);
}

void Sequencer::verifyPassed() {
    view().log(endingText(Ending::Verified));
    readMode_ = false;
    verifyMode_ = false;
    view().beep(beepHz, 200);
    timer1_.setEnabled(false);
    watchdog_.setEnabled(false);
    endTransfer();
    view().setStatus(okLabel, StatusColour::Success);
    if (windowRaised_) {
        view().lowerWindow();
        windowRaised_ = false;
    }
    if (autoLockPending_) {
        autoLockPending_ = false;
        sendCommand(CmdLock, static_cast<quint8>(session_.lockLevel()));
        awaiting_ = Awaiting::Lock;
        return; // the run ends with the Lock's reply
    }
    ended(Ending::Verified);
}

void Sequencer::readFinished() {
    view().log(endingText(Ending::Read));
    watchdog_.setEnabled(false);
    readMode_ = false;
    view().setStatus(QStringLiteral("Read Finish"), StatusColour::Success);
    endTransfer();
    timer1_.setEnabled(false);
    readFinishPending_ = false;
    view().beep(beepHz, 200);
    ended(Ending::Read);
}

void Sequencer::lockFinished() {
    view().log(endingText(Ending::Locked));
    watchdog_.setEnabled(false);
    stopProgressWithoutWatchdog();
    ended(Ending::Locked);
}

void Sequencer::unexpectedReply(quint8 status) {
    unexpectedReplyText_ = QStringLiteral("Unexpected Reply %1H While %2 !  Please Check!")
                               .arg(hex(status, 2), describe(awaiting_));
    view().log(unexpectedReplyText_);
    endTransfer();
    view().setStatus(errorLabel, StatusColour::Failure);
    abandonRun();
    errorBeep();
    ended(Ending::UnexpectedReply);
}

void Sequencer::abandonRun() {
    timer1_.setEnabled(false);
    watchdog_.setEnabled(false);
    watchdog_.setInterval(watchdogMs);
    verifyMode_ = false;
    readMode_ = false;
    manualProgram_ = false;
    // The run is over: no Lock and no read end may act on a later operation, and a half frame is dropped.
    autoLockPending_ = false;
    readFinishPending_ = false;
    frameFill_ = 0;
}

void Sequencer::cancelRun() {
    abandonRun();
    awaiting_ = Awaiting::Nothing;
    operationUnderWay_ = false;
}

void Sequencer::ended(Ending how) {
    awaiting_ = Awaiting::Nothing;
    operationUnderWay_ = false;
    lastEnding_ = how;
    if (how != Ending::UnexpectedReply) unexpectedReplyText_.clear();
    emit operationEnded(!endingText(how).isEmpty());
}

QString Sequencer::endingText(Ending ending) {
    switch (ending) {
    case Ending::Ready:
        return QStringLiteral("Programmer is Ready !");
    case Ending::Erased:
        return QStringLiteral("Earse Succssed !");
    case Ending::Programmed:
        return QStringLiteral("Program Succssed!");
    case Ending::Verified:
        return QStringLiteral("Verify Succssed !");
    case Ending::Read:
        return QStringLiteral("Read Finish !");
    case Ending::Locked:
        return QStringLiteral("Lock Succssed !");
    default:
        return QString();
    }
}

// ---- timers

void Sequencer::Timer1Timer() {
    // During the read's tail (all blocks in, end reply awaited) the reading text stays up.
    const bool reading = (readMode_ || readFinishPending_) && !verifyMode_;
    const int total = reading ? buffer().readBlockCount() : buffer().imageBlockCount();
    const int percent = total > 0 ? static_cast<int>(100LL * blockIndex_ / total) : 0;
    view().setProgress(percent);
    if (reading) {
        view().setStatus(QStringLiteral("Reading   %1%").arg(percent), StatusColour::ButtonFace);
        if (percent >= 100) {
            readMode_ = false;
            verifyMode_ = false;
        }
        return;
    }
    const QString what = verifyMode_ ? QStringLiteral("Verifying   ") : QStringLiteral("Programming   ");
    view().setStatus(what + QString::number(percent) + u'%', StatusColour::ButtonFace);
}

void Sequencer::Timer2Timer() {
    // The answer to the probe may have reached the port while its notification still waits to be delivered
    // (a busy machine, a slow start): judge only after every byte that has arrived was handled.
    if (const int queued = port_.InputQueueCount(); queued > 0) ComPortRxChar(queued);
    if (link_[0] != 0x02) view().log(QStringLiteral("Programmer  Not  Found !"));
    timer2_.setEnabled(false);
}

void Sequencer::CheckBox1Click(bool checked) {
    timer3_.setEnabled(checked);
}

void Sequencer::Timer3Timer() {
    // While an operation is under way the watch only looks: a second run would interleave with the first. A
    // reply that no watchdog covers (the Lock's) and that stays out for good must not hold the watch for
    // ever.
    if (operationUnderWay_ && !watchdog_.enabled() && ++quietWatchTicks_ >= abandonedAfterTicks)
        operationUnderWay_ = false;
    if (!fileWatch_ || !fileWatch_(!operationUnderWay_)) return;
    AutoProButClick();
    view().raiseWindow();
    windowRaised_ = true;
}

void Sequencer::DOGTimer4Timer() {
    blockIndex_ = 0;
    view().setProgress(0);
    view().setStatus(errorLabel, StatusColour::Failure);
    view().log(QStringLiteral("\nError !  Please Check The Connection Whether OK !\n"
                              "Or Check  Whether Suited Of The MCU Type  !\n"));
    timer2_.setEnabled(false);
    timer3_.setEnabled(false);
    abandonRun();
    errorBeep();
    ended(Ending::NoAnswer);
}
