#include "platform/mainthreadcall.h"

#include <QMetaObject>
#include <QObject>

namespace platform {

namespace {

// Receives the queued call on the main thread. The call is posted by method name, so the event that carries
// it is made and read inside Qt alone: a functor posted from the event thread would be read by this program's
// code on the main thread with only Qt's own (for ThreadSanitizer invisible) locking between the two.
class HandOverReceiver : public QObject {
    Q_OBJECT
public:
    explicit HandOverReceiver(MainThreadCall* owner) : owner_(owner) {}
public slots:
    void drainHandOvers() { owner_->drain(); }

private:
    MainThreadCall* owner_;
};

} // namespace

MainThreadCall::MainThreadCall() : receiver_(std::make_unique<HandOverReceiver>(this)) {}

// Queued invocations aimed at the receiver die with it.
MainThreadCall::~MainThreadCall() = default;

std::exception_ptr MainThreadCall::run(std::function<void()> fn, Wait wait) {
    auto item = std::make_shared<Item>();
    item->fn = std::move(fn);
    item->wait = wait;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(item);
    }
    changed_.notify_all();
    QMetaObject::invokeMethod(receiver_.get(), "drainHandOvers", Qt::QueuedConnection);

    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return wait == Wait::UntilStarted ? item->started : item->finished; });
    return item->failure;
}

void MainThreadCall::drain() {
    for (;;) {
        std::shared_ptr<Item> item;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
            item = queue_.front();
            queue_.pop_front();
            item->started = true;
        }
        changed_.notify_all();
        std::exception_ptr failure;
        try {
            item->fn();
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            if (item->wait == Wait::UntilFinished) item->failure = failure;
            item->finished = true;
        }
        changed_.notify_all();
    }
}

void MainThreadCall::serveUntil(const std::function<bool()>& done) {
    for (;;) {
        drain();
        std::unique_lock lock(mutex_);
        if (done()) return;
        changed_.wait(lock, [&] { return !queue_.empty() || done(); });
    }
}

void MainThreadCall::notify() {
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

std::size_t MainThreadCall::pending() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

} // namespace platform

#include "mainthreadcall.moc"
