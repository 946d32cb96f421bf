#include "buffer/dumpline.h"
#include "programmer/chipcatalogue.h"
#include "support/tempconfig.h"

#include <array>
#include <vector>

#include <gtest/gtest.h>

TEST(DumpLine, BytesSitInTheirColumns) {
    std::array<quint8, 16> bytes{};
    for (int i = 0; i < 16; ++i) bytes[static_cast<size_t>(i)] = static_cast<quint8>(0x10 * i + i);
    bytes[0] = 0x0A;
    const QString line = dumpLine(0x4FF0, bytes);
    EXPECT_EQ(line, "004FF0  0A 11 22 33 44 55 66 77  88 99 AA BB CC DD EE FF");
    ASSERT_EQ(line.size(), 56);
    // Columns counted from 1: byte 0 at 9-10, byte 8 at 34-35, two blanks before each half.
    EXPECT_EQ(line.mid(8, 2), "0A");
    EXPECT_EQ(line.mid(6, 2), "  ");
    EXPECT_EQ(line.mid(33, 2), "88");
    EXPECT_EQ(line.mid(31, 2), "  ");
    EXPECT_FALSE(line.endsWith(' '));
}

TEST(DumpLine, LineCountFollowsTheCapacityOfEveryChip) {
    for (const ChipInfo& chip : chipCatalogue) {
        std::vector<quint8> image(static_cast<size_t>(chip.capacity), 0xFF);
        const QStringList lines = dumpLines(image, chip.capacity);
        ASSERT_EQ(lines.size(), chip.capacity / 16) << chip.type;
        EXPECT_TRUE(lines.front().startsWith("000000  FF FF")) << chip.type;
        EXPECT_EQ(lines.back().left(6), QStringLiteral("%1").arg(chip.capacity - 16, 6, 16, QChar('0')).toUpper())
            << chip.type;
    }
}

TEST(DumpLine, PartialLinesAndShortDataAreNotShown) {
    std::vector<quint8> image(40, 0x00);
    EXPECT_TRUE(dumpLines(image, 0).isEmpty());
    EXPECT_TRUE(dumpLines(image, 15).isEmpty());
    EXPECT_EQ(dumpLines(image, 47).size(), 2);
    // A length beyond the data never reads past it.
    EXPECT_EQ(dumpLines(image, 20480).size(), 2);
    EXPECT_TRUE(dumpLines({}, 2048).isEmpty());
}
