#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Line settings in the form the serial device takes them. The port object fills this from its settings; the
// device never reads its current state back, every field is set on each apply.
struct SerialLineConfig {
    int baudRate = 9600;        // any positive rate; rates outside the standard table go through BOTHER
    int dataBits = 8;           // 5 to 8
    int parity = 0;             // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;           // 0 one, 1 one and a half (sent as two, see applyLine), 2 two
    bool parityCheck = false;   // check received parity
    bool replaceErrors = false; // with parityCheck: mark bad bytes instead of passing them on
    bool ctsFlow = false;       // hardware flow on output (RTS/CTS)
    bool rtsHandshake = false;  // hardware flow on input (RTS/CTS)
    int dtrMode = 0;            // 0 held off, 1 held on, 2 handshake (held on; Linux has no DTR flow control)
    int rtsMode = 0;            // 0 held off, 1 held on, 2 handshake, 3 toggle (held off while idle)
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    unsigned char xonChar = 17;
    unsigned char xoffChar = 19;
    bool discardNull = false; // not supported by the Linux line discipline; accepted and ignored
};

// Modem input lines, bit for bit as TComLineSignals.
enum SerialLineBits : unsigned { LineCTS = 1, LineDSR = 2, LineRing = 4, LineRLSD = 8 };

// Error counters of the driver; pseudo-terminals have none and report zeros.
struct SerialErrorCounters {
    std::uint64_t frame = 0, parity = 0, overrun = 0, bufferOverrun = 0, brk = 0;
};

// One open serial device: a non-blocking descriptor held exclusively (TIOCEXCL plus flock, because root is
// not stopped by TIOCEXCL). Every call returns 0 on success or an errno value; nothing throws. A
// pseudo-terminal refuses modem-line and error-counter requests with ENOTTY or EINVAL: those count as "no
// lines, no errors".
class SerialDevice {
public:
    SerialDevice() = default;
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Maps a port name to a device path: COMn is /dev/ttyS<n-1>, an absolute path stays, anything else is
    // below /dev.
    static std::string devicePath(const std::string& portName);

    // Opens read-write, no controlling terminal, non-blocking, only if it exists; takes the exclusive hold
    // and remembers the termios state to restore on close. A device held by someone else gives EBUSY.
    int open(const std::string& path);
    // Restores the remembered termios state and closes; safe to call when closed.
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Raw mode, VMIN = VTIME = 0, CLOCAL | CREAD, HUPCL off (the lines are driven by the settings, not by
    // close).
    int applyLine(const SerialLineConfig& config);

    // Non-blocking transfer steps: the bytes moved, 0 when the device has nothing / no room (EAGAIN), or a
    // negative errno.
    long readSome(unsigned char* buffer, std::size_t count);
    long writeSome(const unsigned char* buffer, std::size_t count);

    // Waits until the device is readable (or writable) or wakeFd becomes readable, up to timeoutMs (-1 for no
    // limit). Returns 0 on readiness or time-out, an errno on failure; hangUp is set when the device is gone.
    int waitReady(bool forWrite, int wakeFd, int timeoutMs, bool& deviceReady, bool& hangUp) const;

    int inputQueueCount(int& count) const;
    int outputQueueCount(int& count) const;
    int modemLines(unsigned& lines) const;
    int errorCounters(SerialErrorCounters& counters) const;
    // Discards whatever is queued in both directions.
    int discardQueues();

private:
    int fd_ = -1;
    unsigned char savedTermios_[64] = {}; // the kernel's termios2, kept opaque so no kernel header leaks out
    bool haveSaved_ = false;
};

} // namespace platform
