#pragma once

#include <QtGlobal>

#include <cstdint>
#include <span>
#include <vector>

inline constexpr int blockSize = 16;
inline constexpr int capacityUnitBytes = 2048;

// The image of the chip's program memory (what Program sends and Verify compares against), the read buffer
// that Read and Verify fill, and the values that describe them. Every accessor is bounded: a block or byte
// outside an array reads as nothing and writes nowhere.
class CodeBuffer {
public:
    // Capacity of the selected chip in units of 2048 bytes; 0 until a chip has been applied.
    int capacityUnits() const { return capacityUnits_; }
    int capacity() const { return capacityUnits_ * capacityUnitBytes; }
    // Applies a chip's capacity: records the units and resizes the read buffer (growth is zero-filled,
    // shrinking drops the tail). The code buffer and data end stay as they are.
    void applyCapacity(int capacityUnits);

    quint8 fillByte() const { return fill_; }
    void setFillByte(quint8 fill) { fill_ = fill; }

    // Highest address filled by the last load; 0 means no file is loaded.
    int dataEnd() const { return dataEnd_; }
    void setDataEnd(int dataEnd) { dataEnd_ = dataEnd; }

    // The code buffer; empty until the first load or Clear code.
    const std::vector<quint8>& code() const { return code_; }
    // Re-creates the code buffer with length bytes of the fill byte (a load starts with this).
    void recreate(int length);
    // Stores a byte at address; false (and nothing stored) when address is outside the code buffer.
    bool store(int address, quint8 byte);
    // Clear code: makes the code buffer at least capacity bytes long and fills bytes 0 .. capacity-1 with the
    // fill byte. Returns the capacity that was cleared.
    int clearCode();

    // Block k of the code buffer (16 bytes at 16k); empty when the block is not wholly inside it.
    std::span<const quint8> codeBlock(int k) const;
    // The blocks a program or verify run sends: up to the one holding the data end, never past the code
    // buffer; none when no file is loaded.
    int imageBlockCount() const;
    // The bytes of those blocks.
    std::span<const quint8> imageBytes() const {
        return std::span(code_).first(static_cast<size_t>(imageBlockCount()) * blockSize);
    }
    // The blocks a read fills: the chip's whole capacity.
    int readBlockCount() const { return static_cast<int>(read_.size() / blockSize); }

    const std::vector<quint8>& readBuffer() const { return read_; }
    // Stores 16 bytes as block k of the read buffer; false when the block does not fit.
    bool storeReadBlock(int k, std::span<const quint8, blockSize> bytes);

private:
    int capacityUnits_ = 0;
    quint8 fill_ = 0xFF;
    int dataEnd_ = 0;
    std::vector<quint8> code_;
    std::vector<quint8> read_;
};
