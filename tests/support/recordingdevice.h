#pragma once

#include "platform/ttydevice.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A serial device double: a real terminal device underneath (a pseudo-terminal in the tests), with every call
// the port makes recorded in order, and a line that can be told to hold its output back as a real UART does
// while flow control is held off (a pseudo-terminal never queues output, so it cannot show that). It can also
// play a UART's modem lines and its marking of bad bytes, which a pseudo-terminal has neither of: with
// scriptLines() the lines, their change counters and the modem-status wait are the double's own, and
// queueRaw() puts bytes in front of what the pseudo-terminal delivers, exactly as the port will read them.
class RecordingDevice : public platform::SerialDevice {
public:
    struct Log {
        std::vector<std::string> calls;
        std::vector<std::chrono::steady_clock::time_point> times; // when each call returned
        std::vector<int> drainBounds;
        void clear() {
            calls.clear();
            times.clear();
        }
        // Index of the first call named name, or -1.
        int first(const std::string& name) const {
            for (std::size_t i = 0; i < calls.size(); ++i)
                if (calls[i] == name) return static_cast<int>(i);
            return -1;
        }
        // Index of the last call named name, or -1.
        int last(const std::string& name) const {
            for (std::size_t i = calls.size(); i-- > 0;)
                if (calls[i] == name) return static_cast<int>(i);
            return -1;
        }
        int count(const std::string& name) const {
            int n = 0;
            for (const auto& c : calls)
                n += c == name;
            return n;
        }
    };

    // The log outlives the device, which the port owns and destroys.
    explicit RecordingDevice(std::shared_ptr<Log> log) : log_(std::move(log)) {}

    // The output queue as the driver would report it, and whether it ever empties (the event thread asks
    // too).
    std::atomic<int> heldOutput{0};
    std::atomic<bool> outputStuck{false};

    // Modem lines played by the double from now on (SerialLineBits). Set before the port connects.
    void scriptLines(unsigned lines) {
        std::lock_guard lock(linesMutex_);
        linesScripted_ = true;
        lines_ = lines;
    }
    // Changes the played lines: each line that differs counts one change, and a blocked wait for it ends.
    void setLines(unsigned lines) {
        std::lock_guard lock(linesMutex_);
        changeLinesLocked(lines);
    }
    // Changes the lines as setLines does, right after the first read of the change counters that finds them
    // changed since now (the event thread's look after a line watcher woke it), and then lets a held wait
    // go on.
    void setLinesAfterNextChange(unsigned lines) {
        std::lock_guard lock(linesMutex_);
        lateChange_ = true;
        lateLines_ = lines;
        lateArmedAt_ = changes_;
    }
    // Holds the next modem-status wait at its entry, as the scheduler may leave a thread standing between two
    // waits. It goes on when released, when the device is opened again, or a moment after a cancel (a held
    // thread does run, only late).
    void holdNextLineWait() {
        std::lock_guard lock(linesMutex_);
        holdNext_ = true;
        releaseHeld_ = false; // a release from here on lets it go, even one that comes before it is held
    }
    bool lineWaitHeld() const { return lineWaitHeld_.load(); }
    void releaseLineWait() {
        std::lock_guard lock(linesMutex_);
        releaseHeld_ = true;
        linesChanged_.notify_all();
    }
    // Whether a thread sits in the modem-status wait now, and the most that ever sat in it at once.
    bool lineWaitBlocked() const { return lineWaitBlocked_.load() > 0; }
    int mostLineWaiters() const { return mostLineWaiters_.load(); }
    int lineWaitsCancelled() const { return lineWaitsCancelled_.load(); }
    int lineWaitCalls() const { return lineWaitCalls_.load(); }

    // Raw bytes the next reads return before the real device's.
    void queueRaw(const std::vector<unsigned char>& bytes) {
        std::lock_guard lock(rawMutex_);
        raw_.insert(raw_.end(), bytes.begin(), bytes.end());
    }

    int open(const std::string& path) override {
        note("open");
        {
            std::lock_guard lock(linesMutex_);
            lineWaitCancelled_ = false;
            releaseHeld_ = true;
            linesChanged_.notify_all();
        }
        return real_.open(path);
    }
    void close() override {
        if (real_.isOpen()) note("close");
        real_.close();
    }
    bool isOpen() const override { return real_.isOpen(); }
    int fd() const override { return real_.fd(); }
    int applyLine(const platform::SerialLineConfig& c) override {
        note("applyLine");
        return real_.applyLine(c);
    }
    long readSome(unsigned char* b, std::size_t n) override {
        {
            std::lock_guard lock(rawMutex_);
            if (!raw_.empty()) {
                std::size_t i = 0;
                for (; i < n && !raw_.empty(); ++i) {
                    b[i] = raw_.front();
                    raw_.pop_front();
                }
                return static_cast<long>(i);
            }
        }
        return real_.readSome(b, n);
    }
    long writeSome(const unsigned char* b, std::size_t n) override {
        const long written = real_.writeSome(b, n);
        note("writeSome");
        return written;
    }
    int waitReady(bool forWrite, int wakeFd, int timeoutMs, bool& ready, bool& hangUp) const override {
        return real_.waitReady(forWrite, wakeFd, timeoutMs, ready, hangUp);
    }
    int inputQueueCount(int& count) const override {
        const int err = real_.inputQueueCount(count);
        std::lock_guard lock(rawMutex_);
        if (err == 0) count += static_cast<int>(raw_.size());
        return err;
    }
    int outputQueueCount(int& count) const override {
        const int err = real_.outputQueueCount(count);
        if (err == 0) count += heldOutput;
        return err;
    }
    int modemLines(unsigned& lines) const override {
        std::lock_guard lock(linesMutex_);
        if (!linesScripted_) return real_.modemLines(lines);
        lines = lines_;
        return 0;
    }
    int lineChanges(platform::SerialLineChanges& changes) const override {
        std::lock_guard lock(linesMutex_);
        if (!linesScripted_) return real_.lineChanges(changes);
        changes = changes_;
        if (lateChange_ && !(changes_ == lateArmedAt_)) {
            lateChange_ = false;
            const_cast<RecordingDevice*>(this)->changeLinesLocked(lateLines_);
            releaseHeld_ = true;
        }
        return 0;
    }
    int waitLineChange(unsigned lines, platform::SerialLineChanges& seen) override {
        ++lineWaitCalls_;
        std::unique_lock lock(linesMutex_);
        if (!linesScripted_) {
            lock.unlock();
            return real_.waitLineChange(lines, seen);
        }
        if (holdNext_) {
            holdNext_ = false;
            lineWaitHeld_ = true;
            std::chrono::steady_clock::time_point late{};
            while (!releaseHeld_) {
                if (lineWaitCancelled_ && late == std::chrono::steady_clock::time_point{})
                    late = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
                if (late == std::chrono::steady_clock::time_point{})
                    linesChanged_.wait(lock);
                else if (linesChanged_.wait_until(lock, late) == std::cv_status::timeout)
                    break;
            }
            lineWaitHeld_ = false;
        }
        // The cancel is checked under the lock the cancel takes, as the real device does.
        if (lineWaitCancelled_) return ECANCELED;
        const int inside = ++lineWaitBlocked_;
        mostLineWaiters_ = std::max(mostLineWaiters_.load(), inside);
        linesChanged_.wait(
            lock, [&] { return lineWaitCancelled_ || platform::linesChanged(lines, seen, changes_); });
        --lineWaitBlocked_;
        if (lineWaitCancelled_) return ECANCELED;
        seen = changes_;
        return 0;
    }
    void cancelLineWait() override {
        {
            std::lock_guard lock(linesMutex_);
            if (!linesScripted_) {
                // the real device's own cancel below
            } else {
                lineWaitCancelled_ = true;
                ++lineWaitsCancelled_;
                linesChanged_.notify_all();
                return;
            }
        }
        real_.cancelLineWait();
    }
    int errorCounters(platform::SerialErrorCounters& c) const override { return real_.errorCounters(c); }
    int drainOutput(int timeoutMs) override {
        note("drainOutput");
        log_->drainBounds.push_back(timeoutMs);
        if (outputStuck) return ETIMEDOUT;
        return real_.drainOutput(timeoutMs);
    }
    int discardInput() override {
        note("discardInput");
        return real_.discardInput();
    }
    int discardOutput() override {
        note("discardOutput");
        heldOutput = 0;
        return real_.discardOutput();
    }

private:
    void note(const char* what) {
        log_->calls.emplace_back(what);
        log_->times.push_back(std::chrono::steady_clock::now());
    }
    void changeLinesLocked(unsigned lines) {
        const unsigned changed = lines ^ lines_;
        if (changed & platform::LineCTS) ++changes_.cts;
        if (changed & platform::LineDSR) ++changes_.dsr;
        if (changed & platform::LineRing) ++changes_.ring;
        if (changed & platform::LineRLSD) ++changes_.rlsd;
        lines_ = lines;
        linesChanged_.notify_all();
    }

    mutable std::mutex linesMutex_;
    std::condition_variable linesChanged_;
    bool linesScripted_ = false;
    bool lineWaitCancelled_ = false;
    unsigned lines_ = 0;
    platform::SerialLineChanges changes_;
    mutable bool lateChange_ = false;
    unsigned lateLines_ = 0;
    platform::SerialLineChanges lateArmedAt_;
    bool holdNext_ = false;
    mutable bool releaseHeld_ = false;
    std::atomic<bool> lineWaitHeld_{false};
    std::atomic<int> lineWaitBlocked_{0};
    std::atomic<int> mostLineWaiters_{0};
    std::atomic<int> lineWaitsCancelled_{0};
    std::atomic<int> lineWaitCalls_{0};
    mutable std::mutex rawMutex_;
    std::deque<unsigned char> raw_;

    std::shared_ptr<Log> log_;
    platform::TtyDevice real_;
};
