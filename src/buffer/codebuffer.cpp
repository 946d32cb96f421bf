#include "buffer/codebuffer.h"

#include <algorithm>

void CodeBuffer::applyCapacity(int capacityUnits) {
    capacityUnits_ = std::max(capacityUnits, 0);
    read_.resize(static_cast<size_t>(capacity()), 0);
}

void CodeBuffer::recreate(int length) {
    code_.assign(static_cast<size_t>(std::max(length, 0)), fill_);
}

bool CodeBuffer::store(int address, quint8 byte) {
    if (address < 0 || static_cast<size_t>(address) >= code_.size()) return false;
    code_[static_cast<size_t>(address)] = byte;
    return true;
}

int CodeBuffer::clearCode() {
    const size_t n = static_cast<size_t>(capacity());
    if (code_.size() < n) code_.resize(n);
    std::fill_n(code_.begin(), n, fill_);
    return capacity();
}

namespace {
bool blockInside(int k, size_t size) {
    return k >= 0 && (static_cast<size_t>(k) + 1) * blockSize <= size;
}
} // namespace

std::span<const quint8> CodeBuffer::codeBlock(int k) const {
    if (!blockInside(k, code_.size())) return {};
    return std::span<const quint8>(code_).subspan(static_cast<size_t>(k) * blockSize, blockSize);
}

int CodeBuffer::imageBlockCount() const {
    if (dataEnd_ <= 0) return 0;
    return std::min(dataEnd_ / blockSize + 1, static_cast<int>(code_.size() / blockSize));
}

bool CodeBuffer::storeReadBlock(int k, std::span<const quint8, blockSize> bytes) {
    if (!blockInside(k, read_.size())) return false;
    std::copy(bytes.begin(), bytes.end(), read_.begin() + static_cast<std::ptrdiff_t>(k) * blockSize);
    return true;
}
