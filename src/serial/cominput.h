#pragma once

#include <cstddef>
#include <vector>

// The port's input queue: received bytes after the rules the Windows driver applies on receipt and the Linux
// line discipline does not (dropping zero bytes, replacing bytes that arrived with a parity or framing error,
// noticing the event character). The queue count, the reads and the receive events all see these bytes, so
// a dropped zero byte is never counted and a replaced one is never read as it came.
class TComInputQueue {
public:
    struct Rules {
        bool discardNull = false;
        bool marked = false;  // the device marks bad bytes (0xFF 0x00 byte) and escapes 0xFF (0xFF 0xFF)
        bool replace = false; // with marked: a bad byte becomes replaceChar
        unsigned char replaceChar = 0;
        unsigned char eventChar = 0;
    };

    // The most bytes the queue holds; past that they stay in the device.
    static constexpr std::size_t Capacity = 1u << 16;

    void setRules(const Rules& rules);
    // Takes bytes as the device delivered them, at most room() of them. Returns true when the event character
    // was among the bytes queued.
    bool take(const unsigned char* raw, std::size_t count);
    std::size_t size() const { return bytes_.size() - head_; }
    std::size_t room() const { return Capacity - size(); }
    // Moves up to count bytes out of the queue; returns how many.
    std::size_t read(unsigned char* out, std::size_t count);
    // Drops every queued byte and any mark cut short at the end of the last delivery.
    void clear();

private:
    void queue(unsigned char byte, bool& sawEventChar);

    Rules rules_;
    std::vector<unsigned char> bytes_;
    std::size_t head_ = 0;
    int markState_ = 0; // 0 plain, 1 after 0xFF, 2 after 0xFF 0x00
};
