#include "buffer/codebuffer.h"

#include <array>

#include <gtest/gtest.h>

TEST(CodeBuffer, ClearCodeCoversTheCapacityWithTheFillByteAndKeepsALongerImage) {
    CodeBuffer b;
    EXPECT_TRUE(b.code().empty());
    EXPECT_EQ(b.clearCode(), 0) << "no chip applied yet: nothing to clear";
    EXPECT_TRUE(b.code().empty());

    b.applyCapacity(1);
    EXPECT_EQ(b.clearCode(), 2048);
    ASSERT_EQ(b.code().size(), 2048u);
    EXPECT_EQ(b.code()[2047], 0xFF);

    // A larger image from an earlier load keeps its tail; only the capacity is cleared.
    b.recreate(4096);
    ASSERT_TRUE(b.store(4095, 0x12));
    b.setFillByte(0x00);
    b.clearCode();
    EXPECT_EQ(b.code().size(), 4096u);
    EXPECT_EQ(b.code()[2047], 0x00);
    EXPECT_EQ(b.code()[4095], 0x12);
    EXPECT_EQ(b.dataEnd(), 0) << "clearing is not loading";
}

TEST(CodeBuffer, ReadBufferFollowsTheChipKeepingOldBytes) {
    CodeBuffer b;
    b.applyCapacity(2);
    std::array<quint8, 16> block;
    block.fill(0xAB);
    ASSERT_TRUE(b.storeReadBlock(0, block));
    ASSERT_TRUE(b.storeReadBlock(255, block));
    EXPECT_FALSE(b.storeReadBlock(256, block)) << "past the 4K read buffer";
    EXPECT_FALSE(b.storeReadBlock(-1, block));

    b.applyCapacity(10);
    ASSERT_EQ(b.readBuffer().size(), 20480u);
    EXPECT_EQ(b.readBuffer()[0], 0xAB);
    EXPECT_EQ(b.readBuffer()[4096], 0x00) << "growth is zero-filled";
    b.applyCapacity(1);
    EXPECT_EQ(b.readBuffer().size(), 2048u);
}

TEST(CodeBuffer, BlocksOutsideTheImageReadAsNothing) {
    CodeBuffer b;
    EXPECT_TRUE(b.codeBlock(0).empty());
    b.recreate(40); // two whole blocks and a part
    EXPECT_EQ(b.codeBlock(1).size(), 16u);
    EXPECT_TRUE(b.codeBlock(2).empty());
    EXPECT_TRUE(b.codeBlock(-1).empty());
    EXPECT_FALSE(b.store(40, 1));
    EXPECT_FALSE(b.store(-1, 1));
}
