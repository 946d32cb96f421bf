#include "fixtures.h"
#include "support/tempconfig.h"

#include "buffer/hexloader.h"
#include "programmer/chipcatalogue.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace {

struct HexCase {
    const char* file;
    LoadStatus status;
    int dataEnd;
    std::map<int, quint8> bytes; // every other byte must hold the fill byte
};

void PrintTo(const HexCase& c, std::ostream* os) {
    *os << c.file;
}

class HexFixtures : public ::testing::TestWithParam<HexCase> {};

void expectImage(const CodeBuffer& buffer, size_t length, const std::map<int, quint8>& bytes) {
    ASSERT_EQ(buffer.code().size(), length);
    for (size_t a = 0; a < length; ++a) {
        const auto it = bytes.find(static_cast<int>(a));
        const quint8 expected = it == bytes.end() ? buffer.fillByte() : it->second;
        ASSERT_EQ(buffer.code()[a], expected) << "at address " << a;
    }
}

TEST_P(HexFixtures, LoadsIntoA2051) {
    const HexCase& c = GetParam();
    for (quint8 fill : {quint8(0xFF), quint8(0x00)}) {
        CodeBuffer buffer;
        buffer.setFillByte(fill);
        buffer.setDataEnd(0x123); // a previous load's value must not survive
        const LoadResult r = loadImage(buffer, fixture(c.file), 2048, FileKind::Hex);
        EXPECT_EQ(r.status, c.status) << r.error.toStdString();
        EXPECT_EQ(buffer.dataEnd(), c.dataEnd);
        expectImage(buffer, 2048, c.bytes);
    }
}

const std::map<int, quint8> deadBeef = {{0, 0xDE}, {1, 0xAD}, {0x20, 0xBE}, {0x21, 0xEF}};

INSTANTIATE_TEST_SUITE_P(
    Files, HexFixtures,
    ::testing::Values(
        // Types 03 and 05 are skipped.
        HexCase{"types.hex", LoadStatus::Loaded, 0x10, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {0x10, 0x55}}},
        // Segment base 0x100, then back to 0.
        HexCase{"segment.hex", LoadStatus::Loaded, 0x111, {{0x110, 0xAA}, {0x111, 0xBB}, {0x20, 0xCC}}},
        HexCase{"linear.hex", LoadStatus::Loaded, 0x101, {{0x100, 0x11}, {0x101, 0x22}}},
        // Upper linear address 1 puts the byte at 0x10000, far beyond the chip.
        HexCase{"linear_beyond.hex", LoadStatus::DoesNotFit, 0x10000, {{0, 0x42}}},
        HexCase{"lowercase.hex",
                LoadStatus::Loaded,
                0x7F3,
                {{0x7F0, 0xAB}, {0x7F1, 0xCD}, {0x7F2, 0xEF}, {0x7F3, 0x0A}}},
        HexCase{"ends_crlf.hex", LoadStatus::Loaded, 0x21, deadBeef},
        HexCase{"ends_lf.hex", LoadStatus::Loaded, 0x21, deadBeef},
        // CR-only line ends: every record loads, not just the first.
        HexCase{"ends_cr.hex", LoadStatus::Loaded, 0x21, deadBeef},
        HexCase{"ends_none.hex", LoadStatus::Loaded, 0x21, deadBeef},
        HexCase{"blank_lines.hex", LoadStatus::Loaded, 0x21, deadBeef},
        HexCase{"stray_cr.hex", LoadStatus::Loaded, 0, {{0, 0x01}}},
        HexCase{"no_eof.hex", LoadStatus::Loaded, 0x401, {{0, 1}, {0x400, 2}, {0x401, 3}}},
        // Neither the record nor the junk after the end record is read.
        HexCase{"after_eof.hex", LoadStatus::Loaded, 1, {{0, 7}, {1, 8}}},
        // Later records overwrite earlier ones; data end is the highest address, not the last.
        HexCase{"overlap.hex",
                LoadStatus::Loaded,
                0x44,
                {{0, 2}, {1, 2}, {0x40, 1}, {0x41, 1}, {0x42, 3}, {0x43, 3}, {0x44, 3}}},
        HexCase{"bad_checksum.hex", LoadStatus::Loaded, 1, {{0, 0x12}, {1, 0x34}}},
        // One byte at 0 loads, but leaves data end 0 (no file for Program).
        HexCase{"only_zero.hex", LoadStatus::Loaded, 0, {{0, 0x3C}}},
        HexCase{"c2051_fits.hex",
                LoadStatus::Loaded,
                0x7FF,
                {{0x7F0, 0},
                 {0x7F1, 1},
                 {0x7F2, 2},
                 {0x7F3, 3},
                 {0x7F4, 4},
                 {0x7F5, 5},
                 {0x7F6, 6},
                 {0x7F7, 7},
                 {0x7F8, 8},
                 {0x7F9, 9},
                 {0x7FA, 10},
                 {0x7FB, 11},
                 {0x7FC, 12},
                 {0x7FD, 13},
                 {0x7FE, 14},
                 {0x7FF, 15}}},
        // The record reaching past 0x7FF stores what fits, the load stops there, data end counts the whole
        // record.
        HexCase{
            "c2051_over.hex", LoadStatus::DoesNotFit, 0x801, {{0x100, 0x77}, {0x7FE, 0xA1}, {0x7FF, 0xA2}}},
        // Broken records end the load with an error, keeping what came before.
        HexCase{"bad_type.hex", LoadStatus::Error, 0x30, {{0x30, 0x5A}}},
        HexCase{"non_hex_data.hex", LoadStatus::Error, 0, {{0, 1}}},
        HexCase{"short_record.hex", LoadStatus::Error, 0, {{0, 1}}},
        HexCase{"short_line.hex", LoadStatus::Error, 0, {{0, 1}}}));

TEST(HexLoader, EveryChipTakesItsLastAddressAndRefusesTheNext) {
    for (const ChipInfo& chip : chipCatalogue) {
        const int cap = chip.capacity;
        CodeBuffer buffer;
        ListLineSource fits({hexRecord(cap - 1, {0x5A}), ":00000001FF"});
        EXPECT_EQ(loadHex(buffer, cap, fits).status, LoadStatus::Loaded) << chip.type;
        EXPECT_EQ(buffer.dataEnd(), cap - 1);
        EXPECT_EQ(buffer.code().back(), 0x5A);

        ListLineSource over({hexRecord(0, {0x11}), hexRecord(cap, {0x5A}), ":00000001FF"});
        EXPECT_EQ(loadHex(buffer, cap, over).status, LoadStatus::DoesNotFit) << chip.type;
        EXPECT_EQ(buffer.dataEnd(), cap);
        EXPECT_EQ(buffer.code().size(), static_cast<size_t>(cap));
        EXPECT_EQ(buffer.code()[0], 0x11);
        EXPECT_EQ(buffer.code().back(), 0xFF);
    }
}

TEST(HexLoader, AnEmptyDataRecordCoversNoAddress) {
    CodeBuffer buffer;
    ListLineSource lines({hexRecord(0x10, {0x42}), hexRecord(0x5100, {}), ":00000001FF"});
    EXPECT_EQ(loadHex(buffer, 2048, lines).status, LoadStatus::Loaded);
    EXPECT_EQ(buffer.dataEnd(), 0x10);
}

TEST(HexLoader, AddressesBeyondThirtyTwoBitsStayBounded) {
    // Upper linear FFFF + segment FFFF0 + address FFFF overflows a 32-bit sum.
    CodeBuffer buffer;
    ListLineSource lines(
        {":02000004FFFFFC", ":020000021000EC", ":10FFFF00000102030405060708090A0B0C0D0E0F00"});
    EXPECT_EQ(loadHex(buffer, 2048, lines).status, LoadStatus::DoesNotFit);
    EXPECT_GT(buffer.dataEnd(), 2047);
    EXPECT_EQ(buffer.code().size(), 2048u);
}

TEST(HexLoader, OnlyTheRecordPartOfAVeryLongLineMatters) {
    QByteArray text = hexRecord(0, {0x42}) + QByteArray(1 << 20, 'x') + "\n:00000001FF\n";
    BytesLineSource source(text);
    CodeBuffer buffer;
    EXPECT_EQ(loadHex(buffer, 2048, source).status, LoadStatus::Loaded);
    EXPECT_EQ(buffer.code()[0], 0x42);
}

TEST(HexLoader, ABadRecordTypeNamesItsLine) {
    ListLineSource lines({hexRecord(0, {1}), "", ":0100000X0000"});
    CodeBuffer buffer;
    const LoadResult r = loadHex(buffer, 2048, lines);
    EXPECT_EQ(r.status, LoadStatus::Error);
    EXPECT_TRUE(r.error.startsWith(QStringLiteral("line 3:"))) << r.error.toStdString();
}

class FilesTemp : public ::testing::Test {
protected:
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    QTemporaryDir dir;
};

TEST_F(FilesTemp, BinarySizesAroundEveryCapacity) {
    for (const ChipInfo& chip : chipCatalogue) {
        const int cap = chip.capacity;
        struct Size {
            int n;
            LoadStatus status;
            int dataEnd;
        };
        for (const Size& s :
             {Size{0, LoadStatus::Loaded, 0}, Size{1, LoadStatus::Loaded, 0},
              Size{cap, LoadStatus::Loaded, cap - 1}, Size{cap + 1, LoadStatus::DoesNotFit, cap},
              Size{cap + 100, LoadStatus::DoesNotFit, cap}}) {
            QByteArray bytes(s.n, '\0');
            for (int i = 0; i < s.n; ++i)
                bytes[i] = static_cast<char>(i * 13 + 1);
            writeWholeFile(path("image.bin"), bytes);
            CodeBuffer buffer;
            const LoadResult r = loadImage(buffer, path("image.bin"), cap, FileKind::Binary);
            EXPECT_EQ(r.status, s.status) << chip.type << " size " << s.n;
            EXPECT_EQ(buffer.dataEnd(), s.dataEnd) << chip.type << " size " << s.n;
            ASSERT_EQ(buffer.code().size(), static_cast<size_t>(cap + 1));
            for (int a = 0; a <= cap; ++a)
                ASSERT_EQ(buffer.code()[a], a < s.n ? static_cast<quint8>(bytes[a]) : 0xFF) << a;
        }
    }
}

TEST(BinaryLoader, HundredBytesFixture) {
    CodeBuffer buffer;
    buffer.setFillByte(0x00);
    EXPECT_TRUE(loadImage(buffer, fixture("hundred.bin"), 4096, FileKind::Binary).loaded());
    EXPECT_EQ(buffer.dataEnd(), 99);
    EXPECT_EQ(addressText(buffer.dataEnd()), QStringLiteral("000063H"));
    for (int a = 0; a < 100; ++a)
        ASSERT_EQ(buffer.code()[a], static_cast<quint8>(a * 7));
    for (int a = 100; a <= 4096; ++a)
        ASSERT_EQ(buffer.code()[a], 0x00);
}

TEST(Loader, ASmallerSecondFileLeavesNoTraceOfTheFirst) {
    CodeBuffer buffer;
    ASSERT_TRUE(loadImage(buffer, fixture("hundred.bin"), 2048, FileKind::Binary).loaded());
    ASSERT_TRUE(loadImage(buffer, fixture("only_zero.hex"), 2048, FileKind::Hex).loaded());
    expectImage(buffer, 2048, {{0, 0x3C}});
}

TEST_F(FilesTemp, FailuresLeaveTheDocumentedState) {
    CodeBuffer buffer;
    ASSERT_TRUE(loadImage(buffer, fixture("hundred.bin"), 2048, FileKind::Binary).loaded());
    const std::vector<quint8> image = buffer.code();

    // A binary file that cannot be opened leaves everything alone, and so does a file of no known kind.
    for (const QString& name : {path("missing.bin"), dir.path()}) {
        EXPECT_EQ(loadImage(buffer, name, 2048, FileKind::Binary).status, LoadStatus::Error);
        EXPECT_EQ(buffer.code(), image);
        EXPECT_EQ(buffer.dataEnd(), 99);
    }
    const LoadResult none = loadImage(buffer, fixture("types.hex"), 2048, FileKind::None);
    EXPECT_EQ(none.status, LoadStatus::Error);
    EXPECT_FALSE(none.error.isEmpty());
    EXPECT_EQ(buffer.code(), image);

    // A HEX load clears the buffer and data end before it opens the file.
    for (const QString& name : {path("missing.hex"), dir.path()}) {
        ASSERT_TRUE(loadImage(buffer, fixture("hundred.bin"), 2048, FileKind::Binary).loaded());
        EXPECT_EQ(loadImage(buffer, name, 2048, FileKind::Hex).status, LoadStatus::Error);
        EXPECT_EQ(buffer.dataEnd(), 0);
        expectImage(buffer, 2048, {});
    }
}

TEST_F(FilesTemp, OnlyRegularFilesAreRead) {
    // A FIFO without a writer would block the open; /dev/zero would never end its first line.
    const QString fifo = path("fifo");
    ASSERT_EQ(QProcess::execute(QStringLiteral("mkfifo"), {fifo}), 0);
    for (FileKind kind : {FileKind::Hex, FileKind::Binary}) {
        for (const QString& name : {fifo, QStringLiteral("/dev/zero")}) {
            CodeBuffer buffer;
            EXPECT_EQ(loadImage(buffer, name, 2048, kind).status, LoadStatus::Error) << name.toStdString();
        }
    }
}

} // namespace
