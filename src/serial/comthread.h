#pragma once

#include "platform/serialdevice.h"
#include "serial/comtypes.h"

#include <atomic>
#include <memory>
#include <thread>

namespace platform {
class DeviceEventWait;
class WakeSignal;
} // namespace platform

class TCustomComPort;

// The event thread of an open port. It blocks in one kernel wait on the device and its stop signal and turns
// what it sees into a fired-event set:
//  - evRxChar when bytes arrived since the last look (bytes read plus bytes queued grew), so queued bytes
//    nobody reads never fire again and an arrival during a delivery is not lost;
//  - evRx80Full when the input queue crosses 80 % of the input size;
//  - evTxEmpty when bytes were written since the last report and the output queue is empty;
//  - evError / evBreak when the driver's error counters moved;
//  - evRxFlag when the event character was among the bytes moved into the input queue;
//  - evCTS, evDSR, evRing, evRLSD when the driver's modem-line change counters moved.
// The modem-status wait of the kernel cannot be part of that wait: a line watcher thread sits in it and wakes
// the event thread through a wake signal. It exists only while the port waits for a line event and the device
// has modem lines (a pseudo-terminal has none); stopping cancels its wait and joins it at once, before the
// port closes the device. A device that hangs up is dropped from the wait, so the thread sleeps until it is
// stopped.
class TComThread {
public:
    // Arms the wait with the port's Events and starts the thread.
    explicit TComThread(TCustomComPort* port);
    // Stops (if not yet signalled) and joins; the port must have served hand-overs until Finished().
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Signals the stop, and ends and joins the line watcher (it never waits for the main thread).
    void SignalStop();
    bool Finished() const { return finished_.load(); }
    // True when a failed delivery ended the thread (the port then stays open and its queues are kept).
    bool EndedByFailure() const { return endedByFailure_.load(); }

private:
    void Execute();
    void WatchLines(unsigned lines, platform::SerialLineChanges seen);
    // False when a delivery failed: the thread then ends quietly.
    bool DispatchEvents(TComEvents fired);
    bool SendEventMessages(TComEvents fired);

    TCustomComPort* port_;
    TComEvents mask_;
    std::unique_ptr<platform::WakeSignal> stopEvent_;
    std::unique_ptr<platform::DeviceEventWait> wait_;
    std::unique_ptr<platform::WakeSignal> lineKick_;
    bool watchLines_ = false;
    platform::SerialLineChanges linesSeen_;
    std::uint64_t received_ = 0;
    std::uint64_t writtenSeen_ = 0;
    platform::SerialErrorCounters seen_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> endedByFailure_{false};
    std::thread thread_;
    std::thread lineWatcher_;
};

// The fixed order in which fired events are processed.
inline constexpr TComEvent DeliveryOrder[10] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                                evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};
