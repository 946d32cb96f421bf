#include "fixtures.h"
#include "support/tempconfig.h"

#include "buffer/dumpline.h"
#include "buffer/hexloader.h"
#include "buffer/hexwriter.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

QStringList dumpOf(const std::vector<quint8>& bytes) {
    return dumpLines(bytes, static_cast<int>(bytes.size()));
}

TEST(HexWriter, ClearedAT89C2051View) {
    const QStringList lines = dumpOf(std::vector<quint8>(2048, 0xFF));
    const WriterOutput out = hexFileText(lines);
    ASSERT_TRUE(out.ok());
    const QList<QByteArray> records = out.bytes.split('\n');
    ASSERT_EQ(records.size(), 128 + 2); // the records, the end record and what follows the last LF
    EXPECT_EQ(records[0], ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00\r");
    EXPECT_EQ(records[1], ":10001000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0\r");
    EXPECT_EQ(records[127], ":1007F000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF09\r");
    EXPECT_EQ(records[128], ":00000001FF\r");
    EXPECT_EQ(records[129], "");
    EXPECT_EQ(out.bytes.count('\r'), 129);
}

TEST(HexWriter, DigitsAreCopiedAsTypedAndShortLinesGiveShortRecords) {
    const WriterOutput out = hexFileText({QStringLiteral("000120  ab cd"), QStringLiteral(""),
                                          QStringLiteral("  00 0130 01 02 03\t"), QStringLiteral("000140")});
    ASSERT_TRUE(out.ok()) << out.error.toStdString();
    EXPECT_EQ(out.bytes, QByteArray(":02012000abcd65\r\n"
                                    ":03013000010203C6\r\n"
                                    ":00014000BF\r\n"
                                    ":00000001FF\r\n"));
}

TEST(BinaryWriter, ImagesFollowTheLastLineAddress) {
    std::vector<quint8> image(8192);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<quint8>(i * 31);
    const WriterOutput out = binaryImage(dumpOf(image));
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(out.bytes, QByteArray(reinterpret_cast<const char*>(image.data()), 8192));

    EXPECT_EQ(binaryImage(dumpOf(std::vector<quint8>(2048, 0xFF))).bytes, QByteArray(2048, '\xFF'));

    // Growth is 00 (not the fill byte); a lower address afterwards cuts the image back.
    const std::array<quint8, 16> ones{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const QString at20 = dumpLine(0x20, ones);
    const QString at10 = dumpLine(0x10, ones);
    EXPECT_EQ(binaryImage({at20}).bytes, QByteArray(0x20, '\0') + QByteArray(16, '\1'));
    EXPECT_EQ(binaryImage({at20, at10}).bytes, QByteArray(0x10, '\0') + QByteArray(16, '\1'));
    EXPECT_EQ(binaryImage({at10.toLower(), QStringLiteral("   ")}).bytes,
              QByteArray(0x10, '\0') + QByteArray(16, '\1'));
}

struct BadLine {
    const char* line;
    bool hexRefuses;
    bool binaryRefuses;
};

TEST(Writers, RefuseLinesTheyCannotWriteFaithfully) {
    const std::array<quint8, 16> zeros{};
    const QString good = dumpLine(0x7F0, zeros);
    const BadLine cases[] = {
        {"0007G0  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00", true, true}, // not a hex digit
        {"0007F0  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 0", true, true},  // odd digit count
        {"0007F0  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00", false, true},   // fifteen bytes
        {"0007F0  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00 11", false, true},
        {"07F0", true, true},                                                      // no full address
        {"010000  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00", true, false}, // beyond 64K for HEX
        {"00FFF8  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00", true, false}, // crosses 64K
        {"0007F0  \u00A0", true, true},                                            // a non-ASCII character
    };
    for (const BadLine& c : cases) {
        const QStringList lines{good, QString::fromUtf8(c.line), good};
        const WriterOutput hex = hexFileText(lines);
        const WriterOutput bin = binaryImage(lines);
        EXPECT_EQ(!hex.ok(), c.hexRefuses) << c.line;
        EXPECT_EQ(!bin.ok(), c.binaryRefuses) << c.line;
        for (const WriterOutput* out : {&hex, &bin}) {
            if (out->ok()) continue;
            EXPECT_TRUE(out->error.startsWith(QStringLiteral("Line 2 of the hex view")))
                << out->error.toStdString();
            EXPECT_TRUE(out->bytes.isEmpty());
        }
    }
}

TEST(Writers, WriteToExactPathsAndNeverHalfWay) {
    QTemporaryDir dir;
    const QString hexPath = dir.filePath(QStringLiteral("out.hex"));
    const QString binPath = dir.filePath(QStringLiteral("OUT"));
    const QStringList lines = dumpOf(std::vector<quint8>(2048, 0x5A));
    EXPECT_EQ(writeLines(lines, hexPath, SaveFormat::Hex), QString());
    EXPECT_EQ(writeLines(lines, binPath, SaveFormat::Binary), QString());
    EXPECT_EQ(readWholeFile(binPath), QByteArray(2048, '\x5A'));
    CodeBuffer back;
    ASSERT_TRUE(loadImage(back, hexPath, 2048, FileKind::Hex).loaded());
    EXPECT_EQ(back.code(), std::vector<quint8>(2048, 0x5A));

    // A bad line leaves the existing files exactly as they were.
    const QByteArray before = readWholeFile(hexPath);
    QStringList bad = lines;
    bad[100] = QStringLiteral("bad line");
    EXPECT_FALSE(writeLines(bad, hexPath, SaveFormat::Hex).isEmpty());
    EXPECT_FALSE(writeLines(bad, binPath, SaveFormat::Binary).isEmpty());
    EXPECT_EQ(readWholeFile(hexPath), before);
    EXPECT_EQ(readWholeFile(binPath), QByteArray(2048, '\x5A'));

    // A file that cannot be created reports the error's own text.
    EXPECT_FALSE(
        writeLines(lines, dir.filePath(QStringLiteral("no/such/folder/x.hex")), SaveFormat::Hex).isEmpty());
}

} // namespace
