#include "support/farend.h"

#include <chrono>

ScriptedFarEnd::ScriptedFarEnd(std::vector<Reply> script, int chatterMs, char chatter)
    : script_(std::move(script)), chatterMs_(chatterMs), chatter_(chatter), thread_([this] { run(); }) {}

ScriptedFarEnd::~ScriptedFarEnd() {
    stop_ = true;
    thread_.join();
}

QByteArray ScriptedFarEnd::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void ScriptedFarEnd::run() {
    using Clock = std::chrono::steady_clock;
    size_t next = 0;
    auto lastChatter = Clock::now();
    while (!stop_) {
        const QByteArray got = pty_.receive(1, 10);
        int total = 0;
        {
            std::lock_guard lock(mutex_);
            received_ += got;
            total = static_cast<int>(received_.size());
        }
        // With no host on the device the master reports a hang-up at once: do not spin on it.
        if (got.isEmpty()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        while (next < script_.size() && total >= script_[next].afterBytes) {
            std::this_thread::sleep_for(std::chrono::milliseconds(script_[next].delayMs));
            pty_.send(script_[next].bytes);
            ++next;
        }
        if (chatterMs_ > 0 && Clock::now() - lastChatter >= std::chrono::milliseconds(chatterMs_)) {
            pty_.send(QByteArray(1, chatter_));
            lastChatter = Clock::now();
        }
    }
}
