#pragma once

#include <cstdint>
#include <memory>
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
    bool replaceErrors = false; // with parityCheck: the caller replaces bad bytes (they arrive marked anyway)
    bool ctsFlow = false;       // hardware flow on output (RTS/CTS)
    bool rtsHandshake = false;  // hardware flow on input (RTS/CTS)
    int dtrMode = 0;            // 0 held off, 1 held on, 2 handshake (held on; Linux has no DTR flow control)
    int rtsMode = 0;            // 0 held off, 1 held on, 2 handshake, 3 toggle (held off while idle)
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    unsigned char xonChar = 17;
    unsigned char xoffChar = 19;
    bool discardNull = false; // the line discipline cannot drop zero bytes: the caller does it from the reads
};

// Modem input lines, bit for bit as TComLineSignals.
enum SerialLineBits : unsigned { LineCTS = 1, LineDSR = 2, LineRing = 4, LineRLSD = 8 };

// Error counters of the driver; pseudo-terminals have none and report zeros.
struct SerialErrorCounters {
    std::uint64_t frame = 0, parity = 0, overrun = 0, bufferOverrun = 0, brk = 0;
};

// How often each modem input line changed since the device was opened (the driver's interrupt counters).
struct SerialLineChanges {
    std::uint64_t cts = 0, dsr = 0, ring = 0, rlsd = 0;
    bool operator==(const SerialLineChanges&) const = default;
};

// Whether a line in `lines` (SerialLineBits) changed between the counts `before` and `after`.
inline bool linesChanged(unsigned lines, const SerialLineChanges& before, const SerialLineChanges& after) {
    return ((lines & LineCTS) && before.cts != after.cts) || ((lines & LineDSR) && before.dsr != after.dsr) ||
           ((lines & LineRing) && before.ring != after.ring) ||
           ((lines & LineRLSD) && before.rlsd != after.rlsd);
}

// One serial device, as the port object uses it. The Linux implementation is TtyDevice; tests put a double
// in its place to see the calls a real line depends on (a pseudo-terminal hides wire time). Every call
// returns 0 on success or an errno value; nothing throws. A device that cannot report modem lines or error
// counters (a pseudo-terminal) counts as "no lines, no errors".
class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Maps a port name to a device path: COMn is /dev/ttyS<n-1>, an absolute path and a network name
    // (rfc2217://HOST:PORT, tcp://HOST:PORT) stay, so does a path from the current folder (./x, ../x),
    // anything else is below /dev.
    static std::string devicePath(const std::string& portName);

    // Opens read-write, no controlling terminal, non-blocking, only if it exists, held exclusively by a lock
    // that the kernel drops with the process. A device held by another process gives EBUSY.
    virtual int open(const std::string& path) = 0;
    // Restores the line state found at open and closes; safe to call when closed. Whatever is still queued
    // is the caller's business: see drainOutput and the discards.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The descriptor the event thread waits on.
    virtual int fd() const = 0;

    // Raw mode, VMIN = VTIME = 0, CLOCAL | CREAD, HUPCL off (the lines are driven by the settings, not by
    // close).
    virtual int applyLine(const SerialLineConfig& config) = 0;

    // Non-blocking transfer steps: the bytes moved, 0 when the device has nothing / no room (EAGAIN), or a
    // negative errno.
    virtual long readSome(unsigned char* buffer, std::size_t count) = 0;
    virtual long writeSome(const unsigned char* buffer, std::size_t count) = 0;

    // Waits until the device is readable (or writable) or wakeFd becomes readable, up to timeoutMs (-1 for no
    // limit). Returns 0 on readiness or time-out, an errno on failure; hangUp is set when the device is gone.
    virtual int waitReady(bool forWrite, int wakeFd, int timeoutMs, bool& deviceReady,
                          bool& hangUp) const = 0;

    virtual int inputQueueCount(int& count) const = 0;
    virtual int outputQueueCount(int& count) const = 0;
    virtual int modemLines(unsigned& lines) const = 0;
    virtual int errorCounters(SerialErrorCounters& counters) const = 0;

    // With parityCheck on, a received byte with a parity or framing error arrives as the three bytes
    // 0xFF 0x00 byte, and a received 0xFF as 0xFF 0xFF; the caller undoes the marking.

    // The modem-line change counters. Unlike modemLines, a device without modem lines says so: ENOTTY.
    virtual int lineChanges(SerialLineChanges& changes) const = 0;
    // Waits until one of the modem input lines in `lines` (SerialLineBits) has changed from the counts in
    // `seen`, and then puts the counts in `seen`: returns 0 at once when they already differ, so a change
    // made before the wait began is not lost. ECANCELED once cancelLineWait was called, ENOTTY for a device
    // without modem lines, EINTR when a signal cut the wait short, another errno (EIO: the device is gone)
    // otherwise. One waiting thread at a time; a second one is refused (EBUSY).
    virtual int waitLineChange(unsigned lines, SerialLineChanges& seen) = 0;
    // Ends a blocked waitLineChange promptly, and makes every later one return ECANCELED until the device is
    // opened again. Safe from any thread; returns once the waiting thread has left the wait. The caller
    // keeps its waiting thread from coming back until the device is closed.
    virtual void cancelLineWait() = 0;

    // Waits up to timeoutMs until every written byte has left the device (its queue and the transmitter);
    // ETIMEDOUT when some are still there, for instance while flow control holds the line.
    virtual int drainOutput(int timeoutMs) = 0;
    // Throws away bytes that arrived and were not read.
    virtual int discardInput() = 0;
    // Throws away bytes written but not yet sent.
    virtual int discardOutput() = 0;
};

// A new device that opens a local serial device or a network port, as the name asks.
std::unique_ptr<SerialDevice> makeSerialDevice();

} // namespace platform
