#include "serial/cominput.h"

#include <algorithm>
#include <cstring>

void TComInputQueue::setRules(const Rules& rules) {
    if (!rules.marked) markState_ = 0;
    rules_ = rules;
}

void TComInputQueue::queue(unsigned char byte, bool& sawEventChar) {
    if (byte == 0 && rules_.discardNull) return;
    if (byte == rules_.eventChar) sawEventChar = true;
    bytes_.push_back(byte);
}

bool TComInputQueue::take(const unsigned char* raw, std::size_t count) {
    count = std::min(count, room());
    if (head_ > 0 && head_ >= bytes_.size() / 2) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    bool sawEventChar = false;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char byte = raw[i];
        if (!rules_.marked) {
            queue(byte, sawEventChar);
            continue;
        }
        switch (markState_) {
        case 0:
            if (byte == 0xFF)
                markState_ = 1;
            else
                queue(byte, sawEventChar);
            break;
        case 1:
            if (byte == 0x00) {
                markState_ = 2;
            } else {
                // 0xFF 0xFF is a received 0xFF; anything else after a lone 0xFF cannot come from the
                // device, and is kept as it stands rather than lost.
                queue(0xFF, sawEventChar);
                if (byte != 0xFF) queue(byte, sawEventChar);
                markState_ = 0;
            }
            break;
        default:
            // The byte received with an error (a break arrives as a zero byte with an error).
            queue(rules_.replace ? rules_.replaceChar : byte, sawEventChar);
            markState_ = 0;
            break;
        }
    }
    return sawEventChar;
}

std::size_t TComInputQueue::read(unsigned char* out, std::size_t count) {
    const std::size_t n = std::min(count, size());
    if (n > 0) std::memcpy(out, bytes_.data() + head_, n);
    head_ += n;
    if (head_ == bytes_.size()) {
        bytes_.clear();
        head_ = 0;
    }
    return n;
}

void TComInputQueue::clear() {
    bytes_.clear();
    head_ = 0;
    markState_ = 0;
}
