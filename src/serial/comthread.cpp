#include "serial/comthread.h"

#include "platform/eventwait.h"
#include "platform/mainthreadcall.h"
#include "platform/serialdevice.h"
#include "serial/comport.h"

#include <cerrno>

TComThread::TComThread(TCustomComPort* port)
    : port_(port), mask_(port->Events()), stopEvent_(std::make_unique<platform::WakeSignal>()),
      wait_(std::make_unique<platform::DeviceEventWait>()) {
    // The baselines come first: anything arriving after them wakes the wait below.
    int queued = 0;
    received_ = port_->receivedTotal(queued);
    writtenSeen_ = port_->writtenTotal();
    port_->device_->errorCounters(seen_);
    port_->takeEventCharArrival(); // an event character before the baseline is as old as its bytes
    wait_->watchSignal(*stopEvent_);
    wait_->watchSignal(*port_->txKick_);
    wait_->watchDevice(port_->device_->fd(), mask_.contains(evTxEmpty));
    port_->txKick_->clear();

    unsigned lines = 0;
    if (mask_.contains(evCTS)) lines |= platform::LineCTS;
    if (mask_.contains(evDSR)) lines |= platform::LineDSR;
    if (mask_.contains(evRing)) lines |= platform::LineRing;
    if (mask_.contains(evRLSD)) lines |= platform::LineRLSD;
    // A device without modem lines (ENOTTY) costs neither a thread nor a look per wake.
    watchLines_ = lines != 0 && port_->device_->lineChanges(linesSeen_) == 0;
    if (watchLines_) {
        lineKick_ = std::make_unique<platform::WakeSignal>();
        wait_->watchSignal(*lineKick_);
        lineWatcher_ = std::thread([this, lines, seen = linesSeen_] { WatchLines(lines, seen); });
    }
    thread_ = std::thread([this] { Execute(); });
}

TComThread::~TComThread() {
    SignalStop();
    if (lineWatcher_.joinable()) lineWatcher_.join();
    if (thread_.joinable()) thread_.join();
}

void TComThread::SignalStop() {
    const bool first = !stopping_.exchange(true);
    stopEvent_->raise();
    if (!first) return;
    // The line watcher goes now, even when the event thread itself must finish a delivery first: it is the
    // one thread that could still touch the device after it closes, or wait on the next descriptor opened
    // for the port, where no cancel for it would come.
    if (watchLines_) port_->device_->cancelLineWait();
    if (lineWatcher_.joinable()) lineWatcher_.join();
}

void TComThread::WatchLines(unsigned lines, platform::SerialLineChanges seen) {
    // `seen` is what this watcher last woke the event thread for. The event thread reads the counters only
    // after taking the wake-up, so it has reported at least that much; any later change, even one made
    // before the next wait begins, ends that wait at once.
    for (;;) {
        const int err = port_->device_->waitLineChange(lines, seen);
        if (err == EINTR) continue; // a signal meant for someone else
        if (err != 0) return;       // cancelled, no lines after all, or the device is gone: never spin on it
        lineKick_->raise();
    }
}

void TComThread::Execute() {
    int queued = 0;
    std::uint64_t received = received_;
    bool above80 = false;
    std::uint64_t writtenSeen = writtenSeen_;
    platform::SerialErrorCounters seen = seen_;
    bool deviceGone = false;
    bool deliveryFailed = false;

    for (;;) {
        platform::DeviceEventWait::Result r;
        if (wait_->wait(r) != 0) break;
        ++port_->wakeCount_;
        if (stopping_) break;
        if (r.signalFd == port_->txKick_->fd()) port_->txKick_->clear();
        if (lineKick_ && r.signalFd == lineKick_->fd()) lineKick_->clear();
        if (r.hangUp && !deviceGone) {
            deviceGone = true;
            wait_->forgetDevice();
        }
        if (deviceGone) continue;

        TComEvents fired;
        const std::uint64_t now = port_->receivedTotal(queued);
        if (now > received) {
            received = now;
            if (mask_.contains(evRxChar)) fired.insert(evRxChar);
        }
        const bool isAbove = port_->deviceInputSize_ > 0 &&
                             std::int64_t(queued) * 5 >= std::int64_t(port_->deviceInputSize_) * 4;
        if (isAbove && !above80 && mask_.contains(evRx80Full)) fired.insert(evRx80Full);
        above80 = isAbove;

        if (port_->takeEventCharArrival() && mask_.contains(evRxFlag)) fired.insert(evRxFlag);

        platform::SerialLineChanges changes;
        if (watchLines_ && port_->device_->lineChanges(changes) == 0) {
            if (changes.cts != linesSeen_.cts && mask_.contains(evCTS)) fired.insert(evCTS);
            if (changes.dsr != linesSeen_.dsr && mask_.contains(evDSR)) fired.insert(evDSR);
            if (changes.ring != linesSeen_.ring && mask_.contains(evRing)) fired.insert(evRing);
            if (changes.rlsd != linesSeen_.rlsd && mask_.contains(evRLSD)) fired.insert(evRLSD);
            linesSeen_ = changes;
        }

        platform::SerialErrorCounters counters;
        if (port_->device_->errorCounters(counters) == 0) {
            if ((counters.frame != seen.frame || counters.parity != seen.parity ||
                 counters.overrun != seen.overrun || counters.bufferOverrun != seen.bufferOverrun) &&
                mask_.contains(evError))
                fired.insert(evError);
            if (counters.brk != seen.brk && mask_.contains(evBreak)) fired.insert(evBreak);
            seen = counters;
        }

        if (mask_.contains(evTxEmpty)) {
            const std::uint64_t written = port_->writtenTotal();
            int outQueued = 0;
            if (written != writtenSeen && port_->device_->outputQueueCount(outQueued) == 0 &&
                outQueued == 0) {
                writtenSeen = written;
                fired.insert(evTxEmpty);
            }
        }

        if (!fired.empty() && !DispatchEvents(fired)) {
            deliveryFailed = true;
            break;
        }
    }
    endedByFailure_ = deliveryFailed;
    finished_ = true;
    port_->mainCall_->notify();
}

bool TComThread::DispatchEvents(TComEvents fired) {
    switch (port_->SyncMethod()) {
    case smThreadSync: {
        const std::exception_ptr failure =
            port_->mainCall_->run([this, fired] { port_->deliverHandedOver(fired); },
                                  platform::MainThreadCall::Wait::UntilFinished);
        return !failure;
    }
    case smWindowSync:
        return SendEventMessages(fired);
    case smNone:
        try {
            port_->DeliverEvents(fired);
            return true;
        } catch (...) {
            return false;
        }
    }
    return true;
}

bool TComThread::SendEventMessages(TComEvents fired) {
    TCustomComPort* port = port_;
    for (TComEvent event : DeliveryOrder) {
        if (!fired.contains(event)) continue;
        const int code = EventCode(event);
        port_->mainCall_->run(
            [port, code] {
                try {
                    if (port->Connected()) port->ProcessEventCode(code);
                } catch (const std::exception& e) {
                    ShowComException(e);
                }
            },
            platform::MainThreadCall::Wait::UntilStarted);
    }
    return true;
}
