// File names are bytes: every byte string survives the trip into a QString and back, and valid UTF-8 reads as
// the text it is.
#include "platform/filenames.h"

#include <gtest/gtest.h>

using platform::fileNameBytes;
using platform::fileNameFromBytes;

TEST(FileNames, EveryByteStringRoundTrips) {
    const std::vector<QByteArray> cases = {
        "plain.hex",
        "caf\xc3\xa9.hex",      // valid UTF-8: é
        "\xf0\x9f\x98\x80.bin", // a character outside the BMP (a surrogate pair in QString)
        "caf\xe9.hex",          // Latin-1 é: not UTF-8
        "o\xff.bin",
        "\xc0\x80",         // overlong NUL
        "\xed\xa0\x80",     // an encoded surrogate
        "\xe2\x82",         // cut short at the end
        "\xf5\x80\x80\x80", // beyond U+10FFFF
        "\xed\xb2\x80",     // the UTF-8 form of U+DC80 itself
        QByteArray("a\0b", 3),
    };
    for (const QByteArray& bytes : cases) {
        SCOPED_TRACE(bytes.toHex().toStdString());
        EXPECT_EQ(fileNameBytes(fileNameFromBytes(bytes)), bytes);
    }
    // Every single byte, and every pair of bytes.
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const QByteArray bytes{char(a), char(b)};
            ASSERT_EQ(fileNameBytes(fileNameFromBytes(bytes)), bytes) << a << ' ' << b;
        }
    }
}

TEST(FileNames, ValidUtf8IsDecodedAsUsual) {
    EXPECT_EQ(fileNameFromBytes("caf\xc3\xa9.hex"), QString::fromUtf8("caf\xc3\xa9.hex"));
    EXPECT_EQ(fileNameFromBytes("\xf0\x9f\x98\x80"), QString::fromUtf8("\xf0\x9f\x98\x80"));
    EXPECT_EQ(fileNameBytes(QStringLiteral("caf\u00e9")), QByteArray("caf\xc3\xa9"));
    // A byte that is not UTF-8 is kept apart from the text around it.
    const QString latin = fileNameFromBytes("caf\xe9.hex");
    EXPECT_EQ(latin.size(), 8);
    EXPECT_TRUE(latin.startsWith("caf"));
    EXPECT_TRUE(latin.endsWith(".hex"));
}
