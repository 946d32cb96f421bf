#pragma once

#include "platform/serialdevice.h"

#include <functional>

namespace platform {

// The device behind a port name, chosen when it opens: a network name (rfc2217://, tcp://) gets a NetDevice,
// anything else the local TtyDevice. The one place that tells the kinds apart; the port object above sees a
// SerialDevice either way.
class PortDevice final : public SerialDevice {
public:
    // Makes the device for a name; tests put their own maker in.
    using Maker = std::function<std::unique_ptr<SerialDevice>(const std::string& name)>;
    PortDevice();
    explicit PortDevice(Maker maker);

    int open(const std::string& path) override;
    void close() override;
    bool isOpen() const override { return device_ && device_->isOpen(); }
    int fd() const override { return device_ ? device_->fd() : -1; }
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

    // The kind a name opens as.
    static std::unique_ptr<SerialDevice> deviceFor(const std::string& name);

private:
    Maker maker_;
    std::unique_ptr<SerialDevice> device_; // the last one opened, kept after close so late calls see it closed
};

} // namespace platform
