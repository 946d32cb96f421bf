#include "simwire.h"

#include <algorithm>

namespace sim {

void Wire::enqueue(Timed& queue, Micros& end, QByteArrayView bytes, Micros now, Micros byteTime) {
    for (char byte : bytes) {
        end = std::max(end, now) + byteTime;
        queue.emplace_back(end, byte);
    }
}

QByteArray Wire::dequeue(Timed& queue, Micros now) {
    QByteArray bytes;
    while (!queue.empty() && queue.front().first <= now) {
        bytes.append(queue.front().second);
        queue.pop_front();
    }
    return bytes;
}

void Wire::receive(QByteArrayView bytes, Micros now) {
    enqueue(in_, inEnd_, bytes, now, byteTime_);
}

QByteArray Wire::arrived(Micros now) {
    return dequeue(in_, now);
}

void Wire::send(QByteArrayView bytes, Micros now) {
    enqueue(out_, outEnd_, bytes, now, byteTime_);
}

QByteArray Wire::due(Micros now) {
    return dequeue(out_, now);
}

std::optional<Micros> Wire::nextDeadline() const {
    std::optional<Micros> next;
    if (!in_.empty()) next = in_.front().first;
    if (!out_.empty()) next = next ? std::min(*next, out_.front().first) : out_.front().first;
    return next;
}

} // namespace sim
