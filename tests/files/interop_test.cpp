// Interop with independent tools: srec_cat (srecord) and the sdcc 8051 compiler.
#include "fixtures.h"
#include "support/tempconfig.h"

#include "buffer/dumpline.h"
#include "buffer/hexloader.h"
#include "buffer/hexwriter.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

namespace {

// Runs a tool to completion in folder; the tool's output on failure.
::testing::AssertionResult run(const QString& folder, const QString& program, const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return ::testing::AssertionFailure()
               << program.toStdString() << " " << args.join(QLatin1Char(' ')).toStdString()
               << " failed: " << p.readAllStandardError().toStdString()
               << p.readAllStandardOutput().toStdString();
    return ::testing::AssertionSuccess();
}

class Interop : public ::testing::Test {
protected:
    void SetUp() override {
        srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
        if (srecCat.isEmpty()) GTEST_SKIP() << "srec_cat is not installed";
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    // srec_cat's own reading of a HEX file as capacity bytes, holes filled with FF.
    QByteArray srecImage(const QString& hexName, int capacity) {
        EXPECT_TRUE(run(dir.path(), srecCat,
                        {hexName, QStringLiteral("-intel"), QStringLiteral("-fill"), QStringLiteral("0xFF"),
                         QStringLiteral("0"), QString::number(capacity), QStringLiteral("-o"),
                         QStringLiteral("ref.bin"), QStringLiteral("-binary")}));
        return readWholeFile(path(QStringLiteral("ref.bin")));
    }

    static QByteArray bytesOf(const CodeBuffer& buffer) {
        return QByteArray(reinterpret_cast<const char*>(buffer.code().data()),
                          static_cast<qsizetype>(buffer.code().size()));
    }

    QString srecCat;
    QTemporaryDir dir;
};

QByteArray randomBytes(int n, unsigned seed) {
    std::mt19937 gen(seed);
    QByteArray bytes(n, '\0');
    for (char& c : bytes)
        c = static_cast<char>(gen());
    return bytes;
}

TEST_F(Interop, FilesWrittenBySrecCatLoadToTheSameBytes) {
    writeWholeFile(path(QStringLiteral("a.bin")), randomBytes(700, 1));
    writeWholeFile(path(QStringLiteral("b.bin")), randomBytes(333, 2));
    struct Layout {
        const char* addressLength; // 2: no address records, 3: segment (02), 4: linear (04)
        const char* blockSize;
    };
    for (const Layout& l :
         {Layout{"2", "16"}, Layout{"3", "32"}, Layout{"4", "7"}, Layout{"4", "255"}, Layout{"3", "1"}}) {
        const QString hexName =
            QStringLiteral("srec_%1_%2.hex").arg(QLatin1String(l.addressLength), QLatin1String(l.blockSize));
        ASSERT_TRUE(run(dir.path(), srecCat,
                        {QStringLiteral("a.bin"), QStringLiteral("-binary"), QStringLiteral("-offset"),
                         QStringLiteral("0x13"), QStringLiteral("b.bin"), QStringLiteral("-binary"),
                         QStringLiteral("-offset"), QStringLiteral("0x1E00"), QStringLiteral("-o"), hexName,
                         QStringLiteral("-intel"),
                         QStringLiteral("-address-length=%1").arg(QLatin1String(l.addressLength)),
                         QStringLiteral("-Output_Block_Size=%1").arg(QLatin1String(l.blockSize))}));
        CodeBuffer buffer;
        const LoadResult r = loadImage(buffer, path(hexName), 8192, FileKind::Hex);
        ASSERT_TRUE(r.loaded()) << hexName.toStdString() << ": " << r.error.toStdString();
        EXPECT_EQ(buffer.dataEnd(), 0x1E00 + 333 - 1) << hexName.toStdString();
        EXPECT_EQ(bytesOf(buffer), srecImage(hexName, 8192)) << hexName.toStdString();
    }
}

TEST_F(Interop, ALinearAddressBeyondTheChipIsRefused) {
    writeWholeFile(path(QStringLiteral("a.bin")), randomBytes(16, 3));
    ASSERT_TRUE(run(dir.path(), srecCat,
                    {QStringLiteral("a.bin"), QStringLiteral("-binary"), QStringLiteral("-offset"),
                     QStringLiteral("0x10000"), QStringLiteral("-o"), QStringLiteral("far.hex"),
                     QStringLiteral("-intel")}));
    CodeBuffer buffer;
    EXPECT_EQ(loadImage(buffer, path(QStringLiteral("far.hex")), 20480, FileKind::Hex).status,
              LoadStatus::DoesNotFit);
    EXPECT_EQ(buffer.dataEnd(), 0x1000F);
}

TEST_F(Interop, FilesChipwrightWritesAreReadBySrecCat) {
    const QByteArray image = randomBytes(20480, 4);
    QStringList lines = dumpLines(
        std::span(reinterpret_cast<const quint8*>(image.constData()), static_cast<size_t>(image.size())),
        static_cast<int>(image.size()));
    lines[5] = lines[5].toLower(); // typed in lowercase in the hex view
    ASSERT_EQ(writeLines(lines, path(QStringLiteral("ours.hex")), SaveFormat::Hex), QString());
    ASSERT_EQ(writeLines(lines, path(QStringLiteral("ours.bin")), SaveFormat::Binary), QString());

    // srec_cat checks every checksum while it reads.
    ASSERT_TRUE(run(dir.path(), srecCat,
                    {QStringLiteral("ours.hex"), QStringLiteral("-intel"), QStringLiteral("-o"),
                     QStringLiteral("back.bin"), QStringLiteral("-binary")}));
    EXPECT_EQ(readWholeFile(path(QStringLiteral("back.bin"))), image);
    EXPECT_EQ(readWholeFile(path(QStringLiteral("ours.bin"))), image);
}

TEST_F(Interop, AnSdccProgramLoadsByteExact) {
    const QString sdcc = QStandardPaths::findExecutable(QStringLiteral("sdcc"));
    const QString packihx = QStandardPaths::findExecutable(QStringLiteral("packihx"));
    if (sdcc.isEmpty() || packihx.isEmpty()) GTEST_SKIP() << "sdcc or packihx is not installed";
    ASSERT_TRUE(QFile::copy(fixture("blink.c"), path(QStringLiteral("blink.c"))));
    ASSERT_TRUE(run(dir.path(), sdcc, {QStringLiteral("-mmcs51"), QStringLiteral("blink.c")}));
    QProcess pack;
    pack.setWorkingDirectory(dir.path());
    pack.setStandardOutputFile(path(QStringLiteral("blink.hex")));
    pack.start(packihx, {QStringLiteral("blink.ihx")});
    ASSERT_TRUE(pack.waitForFinished(60000));
    ASSERT_EQ(pack.exitCode(), 0);

    CodeBuffer buffer;
    const LoadResult r = loadImage(buffer, path(QStringLiteral("blink.hex")), 2048, FileKind::Hex);
    ASSERT_TRUE(r.loaded()) << r.error.toStdString();
    EXPECT_GT(buffer.dataEnd(), 0x20);
    EXPECT_EQ(buffer.code()[0], 0x02); // the reset vector is a long jump
    EXPECT_EQ(bytesOf(buffer), srecImage(QStringLiteral("blink.hex"), 2048));
    // The raw .ihx, before packing, gives the same image.
    CodeBuffer raw;
    ASSERT_TRUE(loadImage(raw, path(QStringLiteral("blink.ihx")), 2048, FileKind::Hex).loaded());
    EXPECT_EQ(raw.code(), buffer.code());
}

} // namespace
