#pragma once

#include "platform/ttydevice.h"

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

// A serial device double: a real terminal device underneath (a pseudo-terminal in the tests), with every call
// the port makes recorded in order, and a line that can be told to hold its output back as a real UART does
// while flow control is held off (a pseudo-terminal never queues output, so it cannot show that).
class RecordingDevice : public platform::SerialDevice {
public:
    struct Log {
        std::vector<std::string> calls;
        std::vector<int> drainBounds;
        // Index of the first call named name, or -1.
        int first(const std::string& name) const {
            for (std::size_t i = 0; i < calls.size(); ++i)
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

    // The output queue as the driver would report it, and whether it ever empties.
    int heldOutput = 0;
    bool outputStuck = false;

    int open(const std::string& path) override {
        note("open");
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
        note("readSome");
        return real_.readSome(b, n);
    }
    long writeSome(const unsigned char* b, std::size_t n) override {
        note("writeSome");
        return real_.writeSome(b, n);
    }
    int waitReady(bool forWrite, int wakeFd, int timeoutMs, bool& ready, bool& hangUp) const override {
        return real_.waitReady(forWrite, wakeFd, timeoutMs, ready, hangUp);
    }
    int inputQueueCount(int& count) const override { return real_.inputQueueCount(count); }
    int outputQueueCount(int& count) const override {
        const int err = real_.outputQueueCount(count);
        if (err == 0) count += heldOutput;
        return err;
    }
    int modemLines(unsigned& lines) const override { return real_.modemLines(lines); }
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
    void note(const char* what) { log_->calls.emplace_back(what); }

    std::shared_ptr<Log> log_;
    platform::TtyDevice real_;
};
