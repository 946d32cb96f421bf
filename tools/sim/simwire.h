#pragma once

#include "simengine.h"

#include <QByteArray>
#include <QByteArrayView>

#include <deque>
#include <optional>
#include <utility>

namespace sim {

// A serial line's timing laid over the pseudo-terminal, which by itself moves bytes at once. Each byte takes
// one byte time (10 bits at the baud rate) on the wire, one after the other, in each direction: bytes read
// from the host count as arrived when their last bit would be in, and bytes to send are released one by one
// at the moment they would have been fully received. With a byte time of 0 everything passes straight
// through.
class Wire {
public:
    explicit Wire(Micros byteTime) : byteTime_(byteTime) {}

    // Bytes the host wrote, read at `now`.
    void receive(QByteArrayView bytes, Micros now);
    // The received bytes that have crossed the wire by `now`.
    QByteArray arrived(Micros now);

    void send(QByteArrayView bytes, Micros now);
    // The bytes to hand to the host by `now`.
    QByteArray due(Micros now);

    std::optional<Micros> nextDeadline() const;
    bool empty() const { return in_.empty() && out_.empty(); }

private:
    using Timed = std::deque<std::pair<Micros, char>>;
    static void enqueue(Timed& queue, Micros& end, QByteArrayView bytes, Micros now, Micros byteTime);
    static QByteArray dequeue(Timed& queue, Micros now);

    Micros byteTime_;
    Timed in_;
    Timed out_;
    Micros inEnd_ = 0;
    Micros outEnd_ = 0;
};

} // namespace sim
