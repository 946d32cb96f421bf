#pragma once

#include <functional>
#include <mutex>
#include <pthread.h>

namespace platform {

// A blocking system call that another thread can end. Some waits (the modem-status wait of a serial device)
// watch nothing else a stop could be signalled through; only a signal to the waiting thread ends them. The
// thread inside run() is sent a signal whose handler does nothing and does not restart the call, repeatedly
// until it has left, since the first may come just before it is inside the call. The signal is a real-time
// signal the host program left alone; its own handlers are never replaced.
class InterruptibleCall {
public:
    InterruptibleCall();

    // Runs call, which returns 0 or an errno. Returns its result, or ECANCELED once interrupt() was called,
    // before or during the call. One thread at a time: another one is refused with EBUSY (and every call
    // with ENOTSUP when the host left no real-time signal free).
    int run(const std::function<int()>& call);
    // Ends the call now in progress, and every later one until reset(). Returns once the caller has left.
    void interrupt();
    void reset();

private:
    std::mutex mutex_;
    bool interrupted_ = false;
    bool inside_ = false;
    pthread_t thread_{};
};

} // namespace platform
