#pragma once

#include "platform/serialdevice.h"
#include "platform/telnetcodec.h"

#include <condition_variable>
#include <mutex>
#include <vector>

namespace platform {

// A serial port on another machine, reached over TCP: rfc2217://HOST:PORT speaks Telnet with COM port control
// (the line settings, modem lines and purges travel to the server), tcp://HOST:PORT moves raw bytes and leaves
// the line settings to the server. open takes the port name itself.
//
// Failures are errno values as for a local device: ENXIO for a name that does not resolve, ECONNREFUSED,
// EHOSTUNREACH / ENETUNREACH, ETIMEDOUT for a connection that does not complete within its bound,
// EPROTONOSUPPORT for a server that does not agree to COM port control within its bound, ETIME for line
// settings it does not confirm within its bound, EINVAL for settings it answers with other values, and
// ECONNRESET once the server has closed or reset the connection.
class NetDevice final : public SerialDevice {
public:
    struct Bounds {
        int connectMs = 5000; // the TCP connection, over every address the name resolves to
        int answerMs = 3000;  // the option negotiation at open, and the answers to a line configuration
        int userTimeoutMs = 10000; // written bytes unacknowledged this long end a half-open connection
    };

    NetDevice();
    explicit NetDevice(Bounds bounds);
    ~NetDevice() override;
    NetDevice(const NetDevice&) = delete;
    NetDevice& operator=(const NetDevice&) = delete;

    int open(const std::string& name) override;
    void close() override;
    bool isOpen() const override;
    int fd() const override;
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
    // All below run with mutex_ held.
    int flushLocked() const;
    int pullLocked(std::size_t want) const;
    int waitAnswersLocked(std::unique_lock<std::mutex>& lock, bool opening);

    Bounds bounds_;
    int fd_ = -1;
    bool rfc2217_ = false;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_; // a decode happened, or the line wait was cancelled
    mutable TelnetCodec codec_;
    mutable std::vector<unsigned char> inbox_;  // data received and decoded, not yet read
    mutable std::vector<unsigned char> outbox_; // bytes for the socket that it has not taken yet
    mutable int peerError_ = 0;                 // the connection ended: every later read and write fails
    bool lineWaitCancelled_ = false;
    int lineWaiters_ = 0;
};

} // namespace platform
