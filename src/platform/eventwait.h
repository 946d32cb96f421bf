#pragma once

namespace platform {

// A wake-up flag other threads can raise and a kernel wait can watch (an eventfd). Raising is cheap and never
// blocks; raised stays raised until cleared.
class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void raise();
    void clear();

private:
    int fd_ = -1;
};

// The event thread's single kernel wait: the device (edge-triggered, so it reports each arrival of data or
// room rather than a level that stays true until someone reads) plus any number of wake signals. Never times
// out.
class DeviceEventWait {
public:
    DeviceEventWait();
    ~DeviceEventWait();
    DeviceEventWait(const DeviceEventWait&) = delete;
    DeviceEventWait& operator=(const DeviceEventWait&) = delete;

    // Watches the device for input (and, with output, for room to write). Returns 0 or an errno.
    int watchDevice(int deviceFd, bool output);
    // Stops watching the device, e.g. after it hung up, so the wait cannot wake again for it.
    void forgetDevice();
    int watchSignal(const WakeSignal& signal);

    struct Result {
        bool device = false; // the device reported input, room or a state change
        bool hangUp = false; // the device is gone (unplugged, pseudo-terminal master closed)
        int signalFd = -1;   // a wake signal that is raised (the first one reported)
    };
    // Blocks until something is reported. Returns 0 or an errno.
    int wait(Result& result);

private:
    int epollFd_ = -1;
    int deviceFd_ = -1;
};

} // namespace platform
