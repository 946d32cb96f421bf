#include "programmer/linktrace.h"

#include "programmer/chipcatalogue.h"
#include "programmer/sequencer.h"
#include "platform/serialdevice.h"
#include "serial/comport.h"
#include "serial/comtextforms.h"

#include <QDateTime>

#include <QFile>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

using namespace protocol;

QString hexBytes(std::span<const quint8> bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()) * 3);
    for (const quint8 b : bytes) {
        if (!text.isEmpty()) text += QLatin1Char(' ');
        text += QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

QString byteText(quint8 b) {
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

QString address(int a) {
    return QStringLiteral("%1H").arg(a, 4, 16, QLatin1Char('0')).toUpper();
}

QString chipName(quint8 index) {
    const ChipInfo* chip = chipAt(index);
    return chip ? QLatin1String(chip->type) : QStringLiteral("chip %1").arg(index);
}

QString statusMeaning(quint8 status) {
    switch (status) {
    case statusFailed:
        return QStringLiteral("programming failed");
    case statusReady:
        return QStringLiteral("programmer ready");
    case statusNextBlock:
        return QStringLiteral("send the next data block");
    case statusErased:
        return QStringLiteral("erase finished");
    case statusProgrammed:
        return QStringLiteral("programming finished");
    case statusLocked:
        return QStringLiteral("lock finished");
    case statusReadFinished:
        return QStringLiteral("read finished");
    default:
        return QStringLiteral("unknown, ignored");
    }
}

} // namespace

QString portTraceLine(const TCustomComPort& port) {
    const QString device =
        QString::fromStdString(platform::SerialDevice::devicePath(port.Port().toStdString()));
    const QString rate = port.BaudRate() == brCustom ? QString::number(port.CustomBaudRate())
                                                     : BaudRateName(port.BaudRate());
    return QStringLiteral("port: %1 (%2), %3 baud, %4 data bits, parity %5, %6 stop bits, flow control %7")
        .arg(port.Port(), device, rate, DataBitsName(port.DataBits()), ParityName(port.Parity().Bits()),
             StopBitsName(port.StopBits()), FlowControlName(port.FlowControl().FlowControl()));
}

QString startedTraceLine() {
    const QDateTime now = QDateTime::currentDateTime();
    return QStringLiteral("started: %1 (%2)")
        .arg(now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs), now.timeZoneAbbreviation());
}

LinkTrace::~LinkTrace() {
    observe(nullptr);
    flushReceived();
    if (owned_) std::fclose(out_);
}

std::unique_ptr<LinkTrace> LinkTrace::open(const QString& name, QString& error) {
    if (name == QLatin1String("-")) return std::make_unique<LinkTrace>(stderr);
    std::FILE* file = std::fopen(QFile::encodeName(name).constData(), "w");
    if (!file) {
        error = QStringLiteral("%1: %2").arg(name, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    return std::make_unique<LinkTrace>(file, true);
}

QString LinkTrace::readingOfSent(std::span<const quint8> bytes) const {
    const int block = sequencer_ ? sequencer_->blockIndex() : 0;
    if (bytes.size() == frameSize && bytes[0] == dataFrame && bytes[1] == dataFrame)
        return QStringLiteral("data frame %1, address %2").arg(block).arg(address(block * 16));
    if (bytes.size() == frameSize && bytes[0] == endFrame) return QStringLiteral("end frame");
    if (bytes.size() != 3) return QStringLiteral("unknown frame");
    if (bytes[0] == probeByte) return QStringLiteral("probe");
    if (bytes[0] == blockRequest)
        return QStringLiteral("block request %1").arg(lastWasReadCommand_ ? 0 : block);
    if (bytes[0] == stopFrame) return QStringLiteral("stop frame");
    const QString chip = chipName(bytes[0]);
    switch (bytes[1]) {
    case Sequencer::CmdAuto:
        return QStringLiteral("command auto %1, lock level %2").arg(chip).arg(bytes[2]);
    case Sequencer::CmdErase:
        return QStringLiteral("command erase %1").arg(chip);
    case Sequencer::CmdProgram:
        return QStringLiteral("command program %1").arg(chip);
    case Sequencer::CmdRead:
        return QStringLiteral("command %1 %2")
            .arg(sequencer_ && sequencer_->verifyMode() ? QLatin1String("verify") : QLatin1String("read"),
                 chip);
    case Sequencer::CmdLock:
        return QStringLiteral("command lock %1, lock level %2").arg(chip).arg(bytes[2]);
    default:
        return QStringLiteral("command %1 %2").arg(byteText(bytes[1]), chip);
    }
}

LinkTrace::ReceiveState LinkTrace::receiveState() const {
    ReceiveState state;
    if (!sequencer_) return state;
    state.blockMode = sequencer_->readMode() || sequencer_->verifyMode();
    state.blockIndex = sequencer_->blockIndex();
    state.frameFill = sequencer_->frameFill();
    state.lastByte1 = sequencer_->linkByte(1);
    state.readFinishPending = sequencer_->readFinishPending();
    state.afterEndFrame = endFrameSent_;
    return state;
}

QString LinkTrace::readingOfReceived(std::span<const quint8> bytes, const ReceiveState& state) {
    if (bytes.empty()) return {};
    if (state.blockMode) {
        const int k = state.blockIndex;
        const int fill = state.frameFill;
        const int end = fill + static_cast<int>(bytes.size());
        if (fill == 0 && end == frameSize)
            return QStringLiteral("block frame %1, address %2").arg(k).arg(address(k * 16));
        return QStringLiteral("block frame %1 bytes %2-%3 of %4%5")
            .arg(k)
            .arg(fill + 1)
            .arg(end)
            .arg(frameSize)
            .arg(end > frameSize ? QStringLiteral(": past the frame's end") : QString());
    }
    const quint8 status = bytes[0];
    QString reading = QStringLiteral("status %1: %2").arg(byteText(status), statusMeaning(status));
    if (status == statusErased || status == statusProgrammed) {
        // The continuation flag: the reply's second byte, or byte 1 of the last frame the host composed.
        const quint8 flag = bytes.size() >= 2 ? bytes[1] : state.lastByte1;
        reading += flag == 0x01 ? QStringLiteral(", auto goes on") : QStringLiteral(", ends the operation");
    }
    if (status == statusNextBlock && state.afterEndFrame)
        reading += QStringLiteral(" (after the end frame: none sent)");
    if (status == statusReadFinished && !state.readFinishPending)
        reading += QStringLiteral(" (no read: ignored)");
    if (bytes.size() > 1) reading += QStringLiteral("; bytes after the first ignored");
    return reading;
}

void LinkTrace::sent(std::span<const quint8> bytes, qint64 atMicros, bool failed) {
    flushReceived();
    line(atMicros, "->", bytes,
         readingOfSent(bytes) + (failed ? QStringLiteral(" (write failed)") : QString()));
    const bool command = bytes.size() == 3 && bytes[0] <= 0x07;
    lastWasReadCommand_ = command && bytes[1] == Sequencer::CmdRead;
    if (command) endFrameSent_ = false;
    if (bytes.size() == frameSize && bytes[0] == endFrame) endFrameSent_ = true;
}

void LinkTrace::received(std::span<const quint8> bytes, qint64 atMicros) {
    flushReceived();
    pending_ = true;
    pendingAt_ = atMicros;
    pendingBytes_.assign(bytes.begin(), bytes.end());
    pendingState_ = receiveState();
    QMetaObject::invokeMethod(
        &poster_, [this] { flushReceived(); }, Qt::QueuedConnection);
}

void LinkTrace::flushReceived() {
    if (!pending_) return;
    pending_ = false;
    line(pendingAt_, "<-", pendingBytes_, readingOfReceived(pendingBytes_, pendingState_));
    const QStringList notes = std::exchange(pendingNotes_, {});
    for (const QString& text : notes)
        note(text);
}

void LinkTrace::observe(const Sequencer* sequencer) {
    QObject::disconnect(noAnswer_);
    QObject::disconnect(mismatch_);
    sequencer_ = sequencer;
    if (!sequencer) return;
    noAnswer_ = QObject::connect(
        sequencer, &Sequencer::noAnswer, &poster_,
        [this](int ms) { note(QStringLiteral("no answer within %1 ms").arg(ms)); }, Qt::DirectConnection);
    mismatch_ = QObject::connect(
        sequencer, &Sequencer::verifyMismatch, &poster_,
        [this](int at, int fileByte, int chipByte) {
            note(QStringLiteral("verify mismatch at %1H: the file's byte %2H, the chip's byte %3H")
                     .arg(QStringLiteral("%1").arg(at, 6, 16, QLatin1Char('0')).toUpper(),
                          byteText(static_cast<quint8>(fileByte)), byteText(static_cast<quint8>(chipByte))));
        },
        Qt::DirectConnection);
}

void LinkTrace::note(const QString& text) {
    // A note about bytes whose line waits is written after that line.
    if (pending_) {
        pendingNotes_ << text;
        return;
    }
    write(label_ + QByteArrayLiteral("# ") + text.toUtf8() + '\n');
}

void LinkTrace::header(const QStringList& lines) {
    if (headerWritten_) return;
    headerWritten_ = true;
    for (const QString& text : lines)
        note(text);
}

void LinkTrace::line(qint64 atMicros, const char* direction, std::span<const quint8> bytes,
                     const QString& reading) {
    const QByteArray text = label_ + QStringLiteral("%1.%2  %3  %4  %5\n")
                                         .arg(atMicros / 1000, 10)
                                         .arg(atMicros % 1000, 3, 10, QLatin1Char('0'))
                                         .arg(QLatin1String(direction), hexBytes(bytes), reading)
                                         .toUtf8();
    write(text);
}

void LinkTrace::write(const QByteArray& text) {
    if (sink_) {
        sink_(text.chopped(1));
        return;
    }
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), out_);
    std::fflush(out_);
}

void TracingLink::WriteBytes(std::span<const quint8> bytes) {
    if (!trace_) {
        inner_.WriteBytes(bytes);
        return;
    }
    // The line is written after the bytes, so the programmer never waits for the trace.
    const qint64 at = trace_->elapsedMicros();
    try {
        inner_.WriteBytes(bytes);
    } catch (...) {
        trace_->sent(bytes, at, true);
        throw;
    }
    trace_->sent(bytes, at);
}

int TracingLink::ReadBytes(std::span<quint8> bytes) {
    const int n = inner_.ReadBytes(bytes);
    if (trace_ && n > 0) trace_->received(bytes.first(static_cast<size_t>(n)), trace_->elapsedMicros());
    return n;
}
