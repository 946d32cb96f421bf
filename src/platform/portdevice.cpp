#include "platform/portdevice.h"

#include "platform/netaddress.h"
#include "platform/netdevice.h"
#include "platform/ttydevice.h"

#include <cerrno>

namespace platform {

std::unique_ptr<SerialDevice> makeSerialDevice() {
    return std::make_unique<PortDevice>();
}

std::unique_ptr<SerialDevice> PortDevice::deviceFor(const std::string& name) {
    if (isNetworkPortName(name)) return std::make_unique<NetDevice>();
    return std::make_unique<TtyDevice>();
}

PortDevice::PortDevice() : PortDevice(&PortDevice::deviceFor) {}

PortDevice::PortDevice(Maker maker) : maker_(std::move(maker)) {}

int PortDevice::open(const std::string& path) {
    if (isOpen()) return EBUSY;
    device_ = maker_(path);
    if (!device_) return ENODEV;
    return device_->open(path);
}

void PortDevice::close() {
    if (device_) device_->close();
}

int PortDevice::applyLine(const SerialLineConfig& config) {
    return device_ ? device_->applyLine(config) : EBADF;
}

long PortDevice::readSome(unsigned char* buffer, std::size_t count) {
    return device_ ? device_->readSome(buffer, count) : -EBADF;
}

long PortDevice::writeSome(const unsigned char* buffer, std::size_t count) {
    return device_ ? device_->writeSome(buffer, count) : -EBADF;
}

int PortDevice::waitReady(bool forWrite, int wakeFd, int timeoutMs, bool& deviceReady, bool& hangUp) const {
    deviceReady = hangUp = false;
    return device_ ? device_->waitReady(forWrite, wakeFd, timeoutMs, deviceReady, hangUp) : EBADF;
}

int PortDevice::inputQueueCount(int& count) const {
    count = 0;
    return device_ ? device_->inputQueueCount(count) : EBADF;
}

int PortDevice::outputQueueCount(int& count) const {
    count = 0;
    return device_ ? device_->outputQueueCount(count) : EBADF;
}

int PortDevice::modemLines(unsigned& lines) const {
    lines = 0;
    return device_ ? device_->modemLines(lines) : EBADF;
}

int PortDevice::errorCounters(SerialErrorCounters& counters) const {
    counters = {};
    return device_ ? device_->errorCounters(counters) : EBADF;
}

int PortDevice::lineChanges(SerialLineChanges& changes) const {
    changes = {};
    return device_ ? device_->lineChanges(changes) : EBADF;
}

int PortDevice::waitLineChange(unsigned lines, SerialLineChanges& seen) {
    return device_ ? device_->waitLineChange(lines, seen) : EBADF;
}

void PortDevice::cancelLineWait() {
    if (device_) device_->cancelLineWait();
}

int PortDevice::drainOutput(int timeoutMs) {
    return device_ ? device_->drainOutput(timeoutMs) : EBADF;
}

int PortDevice::discardInput() {
    return device_ ? device_->discardInput() : EBADF;
}

int PortDevice::discardOutput() {
    return device_ ? device_->discardOutput() : EBADF;
}

} // namespace platform
