#pragma once

#include "platform/interruptiblecall.h"
#include "platform/serialdevice.h"

namespace platform {

// A Linux terminal device through termios2 (custom rates through BOTHER). The exclusive hold is a flock on
// the descriptor: the kernel releases it when the process ends, however it ends, whereas the terminal's own
// exclusive mode (TIOCEXCL) would outlive a killed process and lock every other user but root out.
class TtyDevice final : public SerialDevice {
public:
    TtyDevice() = default;
    ~TtyDevice() override;
    TtyDevice(const TtyDevice&) = delete;
    TtyDevice& operator=(const TtyDevice&) = delete;

    int open(const std::string& path) override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }
    int fd() const override { return fd_; }
    int applyLine(const SerialLineConfig& config) override;
    long readSome(unsigned char* buffer, std::size_t count) override;
    long writeSome(const unsigned char* buffer, std::size_t count) override;
    int waitReady(bool forWrite, int wakeFd, int timeoutMs, bool& deviceReady, bool& hangUp) const override;
    int inputQueueCount(int& count) const override;
    int outputQueueCount(int& count) const override;
    int modemLines(unsigned& lines) const override;
    int errorCounters(SerialErrorCounters& counters) const override;
    int lineChanges(SerialLineChanges& changes) const override;
    int waitLineChange(unsigned lines, SerialLineChanges& seen) override;
    void cancelLineWait() override;
    int drainOutput(int timeoutMs) override;
    int discardInput() override;
    int discardOutput() override;

private:
    int fd_ = -1;
    unsigned char savedTermios_[64] = {}; // the kernel's termios2, kept opaque so no kernel header leaks out
    bool haveSaved_ = false;

    // The modem-status wait can only be ended by a signal to the thread inside it (or a hang-up).
    InterruptibleCall lineWait_;
};

} // namespace platform
