#include "simengine.h"
#include "simwire.h"

#include <gtest/gtest.h>

using sim::Micros;
using sim::Wire;

TEST(SimWire, EachByteTakesItsByteTimeInEachDirection) {
    Wire wire(1000); // 10 000 baud
    wire.receive(QByteArray::fromHex("FA0000"), 0);
    EXPECT_TRUE(wire.arrived(999).isEmpty());
    EXPECT_EQ(wire.arrived(1000), QByteArray::fromHex("FA"));
    EXPECT_EQ(wire.nextDeadline(), Micros(2000));
    EXPECT_EQ(wire.arrived(3000), QByteArray::fromHex("0000"));

    // Output queues behind itself, not behind the input: the line is full duplex.
    wire.send(QByteArray(18, 'x'), 3000);
    EXPECT_EQ(wire.due(3000 + 17'999).size(), 17);
    EXPECT_EQ(wire.due(3000 + 18'000).size(), 1);
    EXPECT_TRUE(wire.empty());

    // A line that was quiet starts the next byte at once.
    wire.send(QByteArray(1, 'y'), 100'000);
    EXPECT_EQ(wire.nextDeadline(), Micros(101'000));

    Wire unpaced(0);
    unpaced.receive(QByteArray(5, 'z'), 7);
    EXPECT_EQ(unpaced.arrived(7).size(), 5);
}

TEST(SimWire, SplitGapsCountFromTheEndOfThePieceOnThePacedWire) {
    sim::EngineOptions options;
    options.byteTime = 1000;
    options.splitGap = 5000;
    options.faults.splitAt = {10};
    sim::Engine engine(options);
    Wire wire(options.byteTime);

    engine.receive(QByteArray::fromHex("000400090400"), 0);
    wire.send(engine.takeDue(0), 0);
    ASSERT_EQ(engine.nextDeadline(), Micros(10 * 1000 + 5000)) << "10 bytes on the wire, then the gap";
    wire.send(engine.takeDue(15'000), 15'000);
    EXPECT_EQ(wire.due(10'000).size(), 10);
    EXPECT_TRUE(wire.due(15'999).isEmpty()) << "a silent gap the host can see";
    EXPECT_EQ(wire.due(23'000).size(), 8);
}
