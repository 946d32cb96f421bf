#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

namespace platform {

// Hands calls from a worker thread to the thread that created this object (the main thread) and lets the
// worker wait for them. The calls sit in a queue that the main thread drains from its event loop, or from
// serveUntil() while it waits for the worker to finish: so a worker blocked in a hand-over never deadlocks a
// main thread that is waiting for that worker.
class MainThreadCall {
public:
    enum class Wait { UntilFinished, UntilStarted };

    MainThreadCall();
    ~MainThreadCall();
    MainThreadCall(const MainThreadCall&) = delete;
    MainThreadCall& operator=(const MainThreadCall&) = delete;

    // Worker side: queues fn for the main thread and blocks until it has finished (its failure, if any, is
    // returned) or, with UntilStarted, until it has begun (nothing is returned then: fn must deal with its
    // own failures).
    std::exception_ptr run(std::function<void()> fn, Wait wait);

    // Main thread: runs every queued call.
    void drain();
    // Main thread: keeps running queued calls until done() holds. done() is checked under the queue lock, so
    // whoever changes what it looks at must call notify() afterwards.
    void serveUntil(const std::function<bool()>& done);
    void notify();
    // How many calls wait for the main thread.
    std::size_t pending();

private:
    struct Item {
        std::function<void()> fn;
        Wait wait = Wait::UntilFinished;
        bool started = false;
        bool finished = false;
        std::exception_ptr failure;
    };

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Item>> queue_;
    std::unique_ptr<QObject> receiver_;
};

} // namespace platform
