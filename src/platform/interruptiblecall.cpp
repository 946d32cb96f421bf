#include "platform/interruptiblecall.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

namespace platform {

namespace {

void ignoreSignal(int) {}

int interruptSignal() {
    static const int number = [] {
        const int sig = SIGRTMIN + 1;
        struct sigaction action {};
        action.sa_handler = ignoreSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: the call returns EINTR
        ::sigaction(sig, &action, nullptr);
        return sig;
    }();
    return number;
}

} // namespace

InterruptibleCall::InterruptibleCall() {
    interruptSignal();
}

int InterruptibleCall::run(const std::function<int()>& call) {
    {
        std::lock_guard lock(mutex_);
        if (interrupted_) return ECANCELED;
        thread_ = pthread_self();
        inside_ = true;
    }
    sigset_t allow;
    sigemptyset(&allow);
    sigaddset(&allow, interruptSignal());
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
