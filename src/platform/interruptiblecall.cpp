#include "platform/interruptiblecall.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

namespace platform {

namespace {

void ignoreSignal(int) {}

// The signal that ends a call: a real-time signal the host program has no handler for (nor ignores), taken
// from the top of the range, where programs that use real-time signals least often pick theirs. Installing
// a handler over one of the host's would take its signal from it. 0 when every one is in use.
int interruptSignal() {
    static const int number = [] {
        for (int sig = SIGRTMAX; sig >= SIGRTMIN; --sig) {
            struct sigaction current {};
            if (::sigaction(sig, nullptr, &current) != 0) continue;
            if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
            struct sigaction action {};
            action.sa_handler = ignoreSignal;
            sigemptyset(&action.sa_mask);
            action.sa_flags = 0; // no SA_RESTART: the call returns EINTR
            if (::sigaction(sig, &action, nullptr) == 0) return sig;
        }
        return 0;
    }();
    return number;
}

} // namespace

InterruptibleCall::InterruptibleCall() {
    interruptSignal();
}

int InterruptibleCall::run(const std::function<int()>& call) {
    const int signal = interruptSignal();
    {
        std::lock_guard lock(mutex_);
        if (interrupted_) return ECANCELED;
        // A call nothing could end would hold its caller, and whoever waits to interrupt it, for good.
        if (signal == 0) return ENOTSUP;
        if (inside_) return EBUSY; // the one waiter's signal would miss a second one
        thread_ = pthread_self();
        inside_ = true;
    }
    sigset_t allow;
    sigemptyset(&allow);
    sigaddset(&allow, signal);
    pthread_sigmask(SIG_UNBLOCK, &allow, nullptr);
    const int result = call();
    std::lock_guard lock(mutex_);
    inside_ = false;
    return interrupted_ ? ECANCELED : result;
}

void InterruptibleCall::interrupt() {
    std::unique_lock lock(mutex_);
    interrupted_ = true;
    while (inside_) {
        pthread_kill(thread_, interruptSignal());
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.lock();
    }
}

void InterruptibleCall::reset() {
    std::lock_guard lock(mutex_);
    interrupted_ = false;
}

} // namespace platform
