#include "serial/comtransfer.h"

#include "platform/eventwait.h"
#include "platform/serialdevice.h"
#include "serial/comport.h"
#include "serial/ecomport.h"

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::int32_t maxDword = -1; // MAXDWORD seen through a signed field

std::int64_t remainingMs(const TComTransfer& t, std::chrono::steady_clock::time_point since,
                         std::int64_t limit) {
    if (limit < 0) return -1;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
            .count();
    (void)t;
    return std::max<std::int64_t>(0, limit - elapsed);
}

} // namespace

void NewTransfer(PComTransfer& AsyncPtr) {
    AsyncPtr = new TComTransfer();
}

void FreeTransfer(PComTransfer& AsyncPtr) {
    delete AsyncPtr;
    AsyncPtr = nullptr;
}

std::int32_t TCustomComPort::StartWrite(const void* Buffer, std::int32_t Count, PComTransfer AsyncPtr) {
    if (!AsyncPtr) throw EComPort(CError_InvalidAsync);
    TComTransfer& t = *AsyncPtr;
    Count = std::max<std::int32_t>(Count, 0);
    t = TComTransfer{};
    t.Kind = trWrite;
    const auto* bytes = static_cast<const unsigned char*>(Buffer);
    if (Count > 0) t.SentCopy.assign(bytes, bytes + Count);
    t.writeBuffer = bytes;
    t.count = Count;
    t.started = true;
    t.abortGeneration = abortGeneration_.load();
    t.startedAt = std::chrono::steady_clock::now();
    const std::int64_t total = std::int64_t(deviceTimeouts_.WriteTotalMultiplier()) * Count +
                               std::int64_t(deviceTimeouts_.WriteTotalConstant());
    const bool noLimit =
        deviceTimeouts_.WriteTotalMultiplier() == 0 && deviceTimeouts_.WriteTotalConstant() == 0;
    t.totalLimitMs = noLimit ? -1 : std::max<std::int64_t>(total, 0);

    if (!device_->isOpen()) throw EComPort(CError_WriteFailed, EBADF);
    const long n = device_->writeSome(bytes, static_cast<std::size_t>(Count));
    if (n < 0) throw EComPort(CError_WriteFailed, static_cast<int>(-n));
    t.done = static_cast<std::int32_t>(n);
    t.complete = t.done >= t.count;
    wroteBytes(n);
    forListeners([](TComListener& l) {
        if (l.Sending) l.Sending(true);
    });
    return t.complete ? t.done : 0;
}

std::int32_t TCustomComPort::StartRead(void* Buffer, std::int32_t Count, PComTransfer AsyncPtr) {
    if (!AsyncPtr) throw EComPort(CError_InvalidAsync);
    TComTransfer& t = *AsyncPtr;
    Count = std::max<std::int32_t>(Count, 0);
    t = TComTransfer{};
    t.Kind = trRead;
    t.readBuffer = static_cast<unsigned char*>(Buffer);
    t.count = Count;
    t.started = true;
    t.abortGeneration = abortGeneration_.load();
    t.startedAt = std::chrono::steady_clock::now();

    // The Windows read time-outs: interval MAXDWORD with both totals 0 returns at once; interval and
    // multiplier MAXDWORD with a constant waits up to the constant for the first bytes; otherwise a total
    // limit (multiplier x count + constant, none when both are 0) and an interval limit between bytes (none
    // when 0).
    const TComTimeouts& to = deviceTimeouts_;
    const bool immediate =
        to.ReadInterval() == maxDword && to.ReadTotalMultiplier() == 0 && to.ReadTotalConstant() == 0;
    t.firstByteOnly = to.ReadInterval() == maxDword && to.ReadTotalMultiplier() == maxDword &&
                      to.ReadTotalConstant() != 0 && to.ReadTotalConstant() != maxDword;
    if (t.firstByteOnly) {
        t.totalLimitMs = std::uint32_t(to.ReadTotalConstant());
    } else if (!immediate) {
        const std::int64_t total = std::int64_t(std::uint32_t(to.ReadTotalMultiplier())) * Count +
                                   std::int64_t(std::uint32_t(to.ReadTotalConstant()));
        t.totalLimitMs = (to.ReadTotalMultiplier() == 0 && to.ReadTotalConstant() == 0) ? -1 : total;
        t.intervalLimitMs = (to.ReadInterval() == 0 || to.ReadInterval() == maxDword)
                                ? -1
                                : std::int64_t(std::uint32_t(to.ReadInterval()));
    }

    if (!device_->isOpen()) throw EComPort(CError_ReadFailed, EBADF);
    const long n = readQueued(t.readBuffer, static_cast<std::size_t>(Count));
    if (n < 0) throw EComPort(CError_ReadFailed, static_cast<int>(-n));
    t.done = static_cast<std::int32_t>(n);
    t.complete = t.done >= t.count || immediate || (t.firstByteOnly && t.done > 0);
    return t.complete ? t.done : 0;
}

long TCustomComPort::readQueued(unsigned char* buffer, std::size_t count) {
    std::lock_guard lock(rxMutex_);
    const int err = pumpInputLocked();
    const std::size_t n = input_.read(buffer, count);
    consumed_ += n;
    if (n == 0 && err != 0) return -err;
    return static_cast<long>(n);
}

void TCustomComPort::waitTransfer(TComTransfer& t) {
    const bool isWrite = t.Kind == trWrite;
    const int failCode = isWrite ? CError_WriteFailed : CError_ReadFailed;
    auto lastByteAt = std::chrono::steady_clock::now();
    while (!t.complete) {
        if (abortGeneration_.load() != t.abortGeneration) throw EComPort(failCode, ECANCELED);
        std::int64_t wait = remainingMs(t, t.startedAt, t.totalLimitMs);
        if (!isWrite && t.done > 0 && t.intervalLimitMs >= 0) {
            const std::int64_t interval = remainingMs(t, lastByteAt, t.intervalLimitMs);
            wait = wait < 0 ? interval : std::min(wait, interval);
        }
        if (wait == 0) break; // a time limit passed: complete with what was moved
        bool ready = false, hangUp = false;
        const int timeout = wait < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(wait, 1 << 30));
        platform::WakeSignal& wake = isWrite ? *abortSignal_ : *inputKick_;
        if (const int err = device_->waitReady(isWrite, wake.fd(), timeout, ready, hangUp))
            throw EComPort(failCode, err);
        if (abortGeneration_.load() != t.abortGeneration) throw EComPort(failCode, ECANCELED);
        if (!ready && !hangUp) {
            // A stale abort from before this transfer began, or bytes the event thread moved into the
            // input queue: a read looks at the queue again.
            wake.clear();
            if (isWrite) continue;
        }
        long n = 0;
        if (isWrite) {
            n = device_->writeSome(t.writeBuffer + t.done, static_cast<std::size_t>(t.count - t.done));
            wroteBytes(n);
        } else {
            n = readQueued(t.readBuffer + t.done, static_cast<std::size_t>(t.count - t.done));
        }
        if (n < 0) throw EComPort(failCode, static_cast<int>(-n));
        if (n == 0 && hangUp) throw EComPort(failCode, EIO); // the device is gone: no spinning on it
        if (n > 0) lastByteAt = std::chrono::steady_clock::now();
        t.done += static_cast<std::int32_t>(n);
        if (t.done >= t.count || (t.firstByteOnly && t.done > 0)) t.complete = true;
    }
    t.complete = true;
}

std::int32_t TCustomComPort::AwaitTransfer(PComTransfer AsyncPtr) {
    if (!AsyncPtr || !AsyncPtr->started) throw EComPort(CError_InvalidAsync);
    TComTransfer& t = *AsyncPtr;
    if (abortGeneration_.load() != t.abortGeneration && !t.complete)
        throw EComPort(t.Kind == trWrite ? CError_WriteFailed : CError_ReadFailed, ECANCELED);
    waitTransfer(t);
    t.started = false;
    if (t.Kind == trRead && InputQueueCount() == 0) {
        forListeners([](TComListener& l) {
            if (l.Receiving) l.Receiving(false);
        });
    } else if (!t.SentCopy.empty()) {
        forListeners([&](TComListener& l) {
            if (l.TransmittedData)
                l.TransmittedData(this, t.SentCopy.data(), static_cast<int>(t.SentCopy.size()));
        });
    }
    return t.done;
}

namespace {

// A blocking transfer: a record of its own, started and awaited, and freed on every way out.
template <typename Start> std::int32_t blockingTransfer(TCustomComPort& port, Start start) {
    PComTransfer t = nullptr;
    NewTransfer(t);
    try {
        start(t);
        const std::int32_t n = port.AwaitTransfer(t);
        FreeTransfer(t);
        return n;
    } catch (...) {
        FreeTransfer(t);
        throw;
    }
}

} // namespace

std::int32_t TCustomComPort::WriteBytes(const void* Buffer, std::int32_t Count) {
    return blockingTransfer(*this, [&](PComTransfer t) { StartWrite(Buffer, Count, t); });
}

std::int32_t TCustomComPort::ReadBytes(void* Buffer, std::int32_t Count) {
    return blockingTransfer(*this, [&](PComTransfer t) { StartRead(Buffer, Count, t); });
}

void TCustomComPort::AbortTransfers() {
    if (!device_->isOpen()) throw EComPort(CError_PurgeFailed, EBADF);
    ++abortGeneration_;
    abortSignal_->raise();
    inputKick_->raise();
}
