#include "simengine.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace sim {

namespace {

using namespace protocol;

QByteArray bytesOf(std::initializer_list<int> values) {
    QByteArray bytes;
    for (int value : values)
        bytes.append(char(value));
    return bytes;
}

quint8 byteAt(const QByteArray& bytes, qsizetype i) {
    return static_cast<quint8>(bytes.at(i));
}

QString chipName(int chip) {
    const ChipInfo* info = chipAt(chip);
    return info ? QString::fromLatin1(info->type) : QStringLiteral("?");
}

} // namespace

QString hexBytes(QByteArrayView bytes) {
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

Engine::Engine(EngineOptions options) : options_(std::move(options)) {
    for (int chip = 0; chip < chipCount; ++chip)
        memory_[static_cast<size_t>(chip)] = QByteArray(chipAt(chip)->capacity, char(0xFF));
}

const QByteArray& Engine::memory(int chip) const {
    return memory_.at(static_cast<size_t>(chip));
}

int Engine::lockLevel(int chip) const {
    return lock_.at(static_cast<size_t>(chip));
}

bool Engine::setMemory(int chip, const QByteArray& data) {
    const ChipInfo* info = chipAt(chip);
    if (!info || data.size() != info->capacity) return false;
    memory_[static_cast<size_t>(chip)] = data;
    return true;
}

bool Engine::setLockLevel(int chip, int level) {
    if (!chipAt(chip) || level < 0 || level > 3) return false;
    lock_[static_cast<size_t>(chip)] = level;
    return true;
}

bool Engine::silent() const {
    return options_.faults.silenceAfterBytes && received_ >= *options_.faults.silenceAfterBytes;
}

QStringList Engine::takeLog() {
    return std::exchange(log_, {});
}

void Engine::log(const QString& line) {
    log_.append(line);
}

int Engine::blockCount() const {
    return chipAt(chip_)->capacity / blockSize;
}

void Engine::receive(QByteArrayView bytes, Micros now) {
    advance(now);
    for (char byte : bytes) {
        if (silent()) {
            if (!silentLogged_) log(QStringLiteral("--  silent from here on (fault injection)"));
            silentLogged_ = true;
            break;
        }
        ++received_;
        pending_.append(byte);
        while (!pending_.isEmpty()) {
            const int length = frameLength();
            if (length == 0 || length > pending_.size()) break;
            if (length < 0) {
                log(QStringLiteral("in  %1  dropped: starts no frame").arg(hexBytes(pending_.left(1))));
                pending_.remove(0, 1);
                continue;
            }
            const QByteArray frame = pending_.left(length);
            pending_.remove(0, length);
            handleFrame(frame);
        }
    }
    lastInput_ = now;
}

void Engine::advance(Micros now) {
    now_ = std::max(now_, now);
    if (!pending_.isEmpty() && now_ - lastInput_ >= options_.frameTimeout)
        dropPending(QStringLiteral("partial frame timed out"));
}

void Engine::dropPending(const QString& why) {
    log(QStringLiteral("in  %1  dropped: %2").arg(hexBytes(pending_), why));
    pending_.clear();
}

int Engine::frameLength() const {
    const quint8 first = byteAt(pending_, 0);
    if (first == endFrame) return frameSize;
    if (first == blockRequest || first == stopFrame) return 3;
    if (first == probeByte) {
        for (qsizetype i = 1; i < std::min<qsizetype>(pending_.size(), 3); ++i)
            if (pending_.at(i) != 0) return -1;
        return pending_.size() < 3 ? 0 : 3;
    }
    if (first >= chipCount) return -1;
    if (pending_.size() < 2) return 0;
    const int code = byteAt(pending_, 1);
    if (first == dataFrame && code == dataFrame) return frameSize;
    if (code != commandAuto && code != commandErase && code != commandProgram && code != commandRead &&
        code != commandLock)
        return -1;
    if (pending_.size() < 3) return 0;
    if ((code == commandAuto || code == commandLock) && byteAt(pending_, 2) > 3) return -1;
    return 3;
}

void Engine::handleFrame(const QByteArray& frame) {
    const quint8 first = byteAt(frame, 0);
    if (frame.size() == frameSize && first == dataFrame) {
        handleData(frame);
    } else if (first == endFrame) {
        log(QStringLiteral("in  %1  end frame").arg(hexBytes(frame)));
        handleEnd();
    } else if (first == blockRequest) {
        log(QStringLiteral("in  %1  block request").arg(hexBytes(frame)));
        handleBlockRequest();
    } else if (first == stopFrame) {
        log(QStringLiteral("in  %1  stop").arg(hexBytes(frame)));
        cancelWaiting();
        mode_ = Mode::Idle;
    } else if (first == probeByte) {
        log(QStringLiteral("in  %1  probe").arg(hexBytes(frame)));
        cancelWaiting();
        mode_ = Mode::Idle;
        reply(status(statusReady), QStringLiteral("ready"));
    } else {
        handleCommand(first, byteAt(frame, 1), byteAt(frame, 2));
    }
}

void Engine::handleCommand(int chip, int code, int parameter) {
    static const char* const names[] = {"", "auto", "erase", "program", "read", "", "lock"};
    const QByteArray frame = bytesOf({chip, code, parameter});
    log(QStringLiteral("in  %1  %2 %3").arg(hexBytes(frame), QLatin1String(names[code]), chipName(chip)));
    cancelWaiting();
    mode_ = Mode::Idle;
    chip_ = chip;
    block_ = 0;
    auto_ = false;
    auto& memory = memory_[static_cast<size_t>(chip)];
    auto& lock = lock_[static_cast<size_t>(chip)];

    switch (code) {
    case commandErase:
    case commandAuto:
        // Erasing also clears the lock bits, as on the chips themselves.
        memory.fill(char(0xFF));
        lock = 0;
        ++changes_;
        if (code == commandErase) {
            reply(continued(statusErased, false), QStringLiteral("erased"));
            return;
        }
        reply(continued(statusErased, true), QStringLiteral("erased, auto goes on"));
        mode_ = Mode::Programming;
        auto_ = true;
        replyLater(status(statusNextBlock), options_.replyGap, QStringLiteral("next block: 0"));
        return;
    case commandProgram:
        mode_ = Mode::Programming;
        reply(status(statusNextBlock), QStringLiteral("next block: 0"));
        return;
    case commandRead:
        mode_ = Mode::Reading;
        return;
    case commandLock:
        // Lock bits add up until the next erase.
        if (parameter > lock) {
            lock = parameter;
            ++changes_;
        }
        reply(status(statusLocked), QStringLiteral("locked, level %1").arg(lock));
        return;
    default:
        return;
    }
}

void Engine::handleData(const QByteArray& frame) {
    if (mode_ != Mode::Programming) {
        log(QStringLiteral("in  %1  data frame outside a program exchange: ignored").arg(hexBytes(frame)));
        return;
    }
    log(QStringLiteral("in  %1  data block %2").arg(hexBytes(frame)).arg(block_));
    if (block_ >= blockCount()) {
        // More data than the chip holds: the data cannot be stored, so the exchange fails.
        cancelWaiting();
        mode_ = Mode::Idle;
        reply(status(statusFailed), QStringLiteral("failed: block past the end of the chip"));
        return;
    }
    auto& memory = memory_[static_cast<size_t>(chip_)];
    std::copy(frame.begin() + 2, frame.end(), memory.begin() + qsizetype(block_) * blockSize);
    ++changes_;
    const int stored = block_++;
    cancelWaiting();
    if (options_.faults.failAfterBlock && *options_.faults.failAfterBlock == stored) {
        mode_ = Mode::Idle;
        reply(status(statusFailed), QStringLiteral("failed (fault injection)"));
        return;
    }
    // A full chip asks for nothing more; the host's end frame comes by itself.
    if (block_ < blockCount())
        replyLater(status(statusNextBlock), options_.blockTime, QStringLiteral("next block: %1").arg(block_));
}

void Engine::handleEnd() {
    if (mode_ != Mode::Programming) {
        log(QStringLiteral("--  end frame outside a program exchange: ignored"));
        return;
    }
    cancelWaiting();
    mode_ = Mode::Idle;
    if (options_.faults.failProgram) {
        replyLater(status(statusFailed), options_.replyGap, QStringLiteral("failed (fault injection)"));
        return;
    }
    replyLater(continued(statusProgrammed, auto_), options_.replyGap,
               auto_ ? QStringLiteral("programmed, auto goes on") : QStringLiteral("programmed"));
}

void Engine::handleBlockRequest() {
    if (mode_ != Mode::Reading) {
        log(QStringLiteral("--  block request outside a read: ignored"));
        return;
    }
    sendBlockFrame(block_++);
    if (block_ >= blockCount()) {
        mode_ = Mode::Idle;
        replyLater(status(statusReadFinished), options_.replyGap, QStringLiteral("read finished"));
    }
}

void Engine::sendBlockFrame(int block) {
    const qsizetype start = qsizetype(block) * blockSize;
    QByteArray frame;
    frame.reserve(frameSize);
    // Header: the block number, high byte first (the host ignores it; it helps reading a log).
    frame.append(char((block >> 8) & 0xFF));
    frame.append(char(block & 0xFF));
    frame.append(memory_[static_cast<size_t>(chip_)].mid(start, blockSize));
    const auto& corrupt = options_.faults.corruptAddress;
    if (corrupt && *corrupt >= start && *corrupt < start + blockSize) {
        const qsizetype at = 2 + (*corrupt - start);
        frame[at] = char(~byteAt(frame, at));
    }
    const QString note = QStringLiteral("block %1").arg(block);
    int from = 0;
    for (int cut : options_.faults.splitAt) {
        if (cut <= from || cut >= frameSize) continue;
        schedule(frame.mid(from, cut - from), from == 0 ? 0 : options_.splitGap, false, note);
        from = cut;
    }
    schedule(frame.mid(from), from == 0 ? 0 : options_.splitGap, false, note);
}

QByteArray Engine::status(quint8 code) const {
    return QByteArray(1, char(code)) + options_.faults.extraBytes;
}

QByteArray Engine::continued(quint8 code, bool goesOn) const {
    if (!options_.twoByteReplies) return status(code);
    return bytesOf({code, goesOn ? 0x01 : 0x00}) + options_.faults.extraBytes;
}

void Engine::reply(const QByteArray& bytes, const QString& note) {
    schedule(bytes, 0, false, note);
}

void Engine::replyLater(const QByteArray& bytes, Micros gap, const QString& note) {
    schedule(bytes, gap, true, note);
}

void Engine::schedule(const QByteArray& bytes, Micros gap, bool cancellable, const QString& note) {
    const Micros due = gap > 0 ? std::max(now_, lastEnd_) + gap : std::max(now_, lastDue_);
    out_.push_back({due, bytes, cancellable, note});
    lastDue_ = due;
    lastEnd_ = std::max(lastEnd_, due + Micros(bytes.size()) * options_.byteTime);
}

void Engine::cancelWaiting() {
    for (const auto& item : out_)
        if (item.cancellable)
            log(QStringLiteral("--  cancelled: %1  %2").arg(hexBytes(item.bytes), item.note));
    std::erase_if(out_, [](const Scheduled& item) { return item.cancellable; });
    lastDue_ = out_.empty() ? 0 : out_.back().due;
    lastEnd_ = takenEnd_;
    if (!out_.empty())
        lastEnd_ = std::max(lastEnd_, out_.back().due + Micros(out_.back().bytes.size()) * options_.byteTime);
}

QByteArray Engine::takeDue(Micros now) {
    now_ = std::max(now_, now);
    QByteArray bytes;
    while (!out_.empty() && out_.front().due <= now_) {
        log(QStringLiteral("out %1  %2").arg(hexBytes(out_.front().bytes), out_.front().note));
        bytes += out_.front().bytes;
        takenEnd_ =
            std::max(takenEnd_, out_.front().due) + Micros(out_.front().bytes.size()) * options_.byteTime;
        out_.pop_front();
    }
    return bytes;
}

std::optional<Micros> Engine::nextDeadline() const {
    std::optional<Micros> next;
    if (!out_.empty()) next = out_.front().due;
    if (!pending_.isEmpty()) {
        const Micros timeout = lastInput_ + options_.frameTimeout;
        next = next ? std::min(*next, timeout) : timeout;
    }
    return next;
}

} // namespace sim
