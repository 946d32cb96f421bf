// Each chip's serial number: the field, its bytes in every format, where it may go, and the counter file
// that several stations share.
#include "production/blankcheck.h"
#include "production/serialnumber.h"

#include "support/tempconfig.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

TEST(SerialField, EveryFormatWritesTheNumberAsItsBytes) {
    const struct {
        const char* field;
        quint64 number;
        QByteArray bytes; // empty: does not fit
    } cases[] = {
        {"0x700:4:le", 0x01020304, QByteArray("\x04\x03\x02\x01", 4)},
        {"1792:4:BE", 0x01020304, QByteArray("\x01\x02\x03\x04", 4)},
        {"0:2:le", 0xFFFF, QByteArray("\xFF\xFF", 2)},
        {"0:2:le", 0x10000, {}},
        {"0:8:be", 0xFFFFFFFFFFFFFFFFull, QByteArray(8, '\xFF')},
        {"0:3:bcd", 12345, QByteArray("\x01\x23\x45", 3)},
        {"0:2:bcd", 9999, QByteArray("\x99\x99", 2)},
        {"0:2:bcd", 10000, {}},
        {"0:6:ascii", 42, "000042"},
        {"0:3:ascii", 999, "999"},
        {"0:3:ascii", 1000, {}},
        {"0:1:ascii", 0, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        QString error;
        const std::optional<SerialField> field = SerialField::parse(c.field, error);
        ASSERT_TRUE(field) << error.toStdString();
        const std::optional<QByteArray> bytes = field->bytes(c.number);
        if (c.bytes.isEmpty())
            EXPECT_FALSE(bytes) << "does not fit";
        else
            EXPECT_EQ(bytes.value_or("(none)"), c.bytes);
    }
}

TEST(SerialField, AFieldThatMeansNothingIsRefusedWithItsReason) {
    const struct {
        const char* field;
        const char* says;
    } cases[] = {
        {"0x700:4", "is not ADDR:LEN:FORMAT"},   {"0x700:4:le:x", "is not ADDR:LEN:FORMAT"},
        {"0x70G:4:le", "the address"},           {"-1:4:le", "the address"},
        {"0:4:hex", "the format \"hex\""},        {"0:0:le", "must be 1-8 bytes for le"},
        {"0:9:be", "must be 1-8 bytes for be"},  {"0:11:bcd", "1-10 bytes for bcd"},
        {"0:21:ascii", "1-20 bytes for ascii"}, {"0:x:ascii", "the length \"x\""},
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_FALSE(SerialField::parse(c.field, error)) << c.field;
        EXPECT_TRUE(error.contains(c.says)) << c.field << ": " << error.toStdString();
    }
}

TEST(SerialField, ItGoesOnlyOverFillInsideTheChip) {
    // A file with data at 0000-000F and 0100-0103; the rest is fill.
    CodeBuffer zeros, ones;
    for (CodeBuffer* b : {&zeros, &ones}) {
        b->applyCapacity(1);
        b->setFillByte(b == &zeros ? 0x00 : 0xFF);
        b->recreate(2048);
        for (int i = 0; i < 16; ++i)
            b->store(i, static_cast<quint8>(i == 3 ? 0x00 : 0xFF)); // data that looks like either fill
        for (int i = 0x100; i < 0x104; ++i)
            b->store(i, 0x5A);
        b->setDataEnd(0x103);
    }
    const std::vector<bool> fill = fillMask(zeros, ones);
    const struct {
        const char* field;
        const char* problem; // empty: fits
    } cases[] = {
        {"0x10:4:le", ""},   {"0x104:4:le", ""}, {"0x7FC:4:le", ""},
        {"0x7FD:4:le", "reach past the chip's 2048 bytes"},
        {"0x0E:4:le", "the file's own data is at 000EH"},
        {"0x0:1:le", "the file's own data is at 0000H"},
        {"0xFE:4:ascii", "the file's own data is at 0100H"},
    };
    for (const auto& c : cases) {
        QString error;
        const SerialField field = *SerialField::parse(c.field, error);
        const QString problem = field.problemWith(ones, fill, 2048);
        if (QString(c.problem).isEmpty())
            EXPECT_TRUE(problem.isEmpty()) << c.field << ": " << problem.toStdString();
        else
            EXPECT_TRUE(problem.contains(c.problem)) << c.field << ": " << problem.toStdString();
    }

    // Placed past the data end, the image grows to reach it, so that the run programs it.
    CodeBuffer image = ones;
    QString error;
    const SerialField tail = *SerialField::parse("0x7FC:4:be", error);
    ASSERT_TRUE(placeSerial(image, tail, *tail.bytes(0xA1B2C3D4)));
    EXPECT_EQ(image.dataEnd(), 0x7FF);
    EXPECT_EQ(image.imageBlockCount(), 128);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(image.code().data()) + 0x7FC, 4),
              QByteArray("\xA1\xB2\xC3\xD4", 4));
}

TEST(SerialCounter, NumbersAreTakenOnceEvenByManyTakersAtOnce) {
    QTemporaryDir dir;
    const SerialCounter counter(dir.filePath("serial.txt"));
    QString error;
    EXPECT_FALSE(counter.peek(error));
    EXPECT_EQ(error, "No such file or directory");
    ASSERT_EQ(counter.create(1000), "");
    EXPECT_EQ(counter.create(1), "File exists") << "a counter is never started again";
    EXPECT_EQ(counter.peek(error).value_or(0), 1000u);

    // Eight takers (two stations of four ports) at once, each with a counter object of its own.
    constexpr int takers = 8, each = 25;
    std::vector<std::vector<quint64>> taken(takers);
    std::vector<std::thread> threads;
    for (int t = 0; t < takers; ++t)
        threads.emplace_back([&, t] {
            const SerialCounter own(dir.filePath("serial.txt"));
            for (int i = 0; i < each; ++i) {
                QString why;
                if (const auto n = own.take(why)) taken[t].push_back(*n);
                else ADD_FAILURE() << why.toStdString();
            }
        });
    for (std::thread& t : threads)
        t.join();
    std::set<quint64> all;
    for (const auto& numbers : taken)
        all.insert(numbers.begin(), numbers.end());
    EXPECT_EQ(all.size(), size_t(takers * each)) << "no number twice";
    EXPECT_EQ(*all.begin(), 1000u);
    EXPECT_EQ(*all.rbegin(), 1000u + takers * each - 1) << "none skipped";
    EXPECT_EQ(readWholeFile(dir.filePath("serial.txt")), QByteArray::number(1000 + takers * each) + "\n");

    writeWholeFile(dir.filePath("serial.txt"), "garbage\n");
    EXPECT_FALSE(counter.take(error));
    EXPECT_TRUE(error.contains("holds no serial number")) << error.toStdString();
    EXPECT_EQ(readWholeFile(dir.filePath("serial.txt")), "garbage\n") << "left as it was";
}

TEST(BlankCheck, SaysWhetherEveryByteIsFFAndWhereTheFirstOtherIs) {
    std::vector<unsigned char> chip(2048, 0xFF);
    EXPECT_TRUE(BlankCheck::of(chip).blank());
    EXPECT_EQ(BlankCheck::of(chip).text(), "Chip is blank");
    chip[0x7FF] = 0xFE;
    EXPECT_EQ(BlankCheck::of(chip).text(), "Chip is not blank: 1 byte is not FF, the first at 07FFH holds FEH");
    chip[0x10] = 0x00;
    chip[0x11] = 0x5A;
    const BlankCheck check = BlankCheck::of(chip);
    EXPECT_EQ(check.notBlank, 3);
    EXPECT_EQ(check.text(), "Chip is not blank: 3 bytes are not FF, the first at 0010H holds 00H");
}

} // namespace
