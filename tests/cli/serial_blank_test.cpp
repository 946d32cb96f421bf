// A production bench's serial numbers and blank checks, against simulated programmers: the numbers land
// where they belong and nowhere else, never twice, not across stations sharing a counter, not after a kill.
#include "cliprocess.h"
#include "support/simrunner.h"
#include "support/tempconfig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr int c2051 = 0;
constexpr int c2051Size = 2048;

QByteArray image() {
    QByteArray bytes;
    for (int i = 0; i < 40; ++i)
        bytes.append(char(i * 3 + 7));
    return bytes;
}

class Bench : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        binFile = dir.filePath("image.bin");
        writeWholeFile(binFile, image());
        counter = dir.filePath("serial.txt");
    }
    std::vector<std::unique_ptr<SimRunner>> startSims(int n, const QStringList& options = {}) {
        std::vector<std::unique_ptr<SimRunner>> sims;
        for (int i = 0; i < n; ++i) {
            sims.push_back(std::make_unique<SimRunner>(options));
            EXPECT_TRUE(sims.back()->ok());
        }
        return sims;
    }
    static QStringList ports(const std::vector<std::unique_ptr<SimRunner>>& sims) {
        QStringList options;
        for (const auto& sim : sims)
            options << "--port" << sim->device();
        return options;
    }

    TempConfigHome home;
    QTemporaryDir dir;
    QString binFile;
    QString counter;
};

TEST_F(Bench, EveryFormatPutsTheNumberAtItsAddressAndNowhereElse) {
    const auto sims = startSims(1);
    const struct {
        const char* field;
        int address;
        QByteArray bytes; // of the number 4660 (0x1234)
    } cases[] = {
        {"0x700:4:le", 0x700, QByteArray("\x34\x12\x00\x00", 4)},
        {"0x7FE:2:be", 0x7FE, QByteArray("\x12\x34", 2)},
        {"40:3:bcd", 40, QByteArray("\x00\x46\x60", 3)},
        {"0x100:6:ascii", 0x100, "004660"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        QFile::remove(counter);
        const CliResult r = runCli(ports(sims) + QStringList{"--chip", "0", "--serial", c.field, "--serial-file",
                                                             counter, "--serial-start", "4660", "auto", binFile},
                                   dir.path());
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        QByteArray expected = image() + QByteArray(c2051Size - 40, char(0xFF));
        expected.replace(c.address, c.bytes.size(), c.bytes);
        EXPECT_EQ(sims[0]->memory(c2051).toHex().toStdString(), expected.toHex().toStdString());
        EXPECT_EQ(readWholeFile(counter), "4661\n");
    }
}

// Two stations of four programmers share one counter file, round after round: every chip gets its own
// number, and the numbers of a round follow one another without a gap.
TEST_F(Bench, TwoGangsSharingACounterNeverIssueANumberTwice) {
    const auto sims = startSims(8);
    const QString log = dir.filePath("chips.log");
    const QString cli = qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-cli";
    writeWholeFile(counter, "1000\n");
    QProcess gangs[2];
    for (int g = 0; g < 2; ++g) {
        gangs[g].setWorkingDirectory(dir.path());
        gangs[g].setReadChannel(QProcess::StandardError);
        gangs[g].start(cli, ports(sims).mid(g * 8, 8) +
                                QStringList{"--chip", "0", "--serial", "0x7F0:2:be", "--serial-file", counter,
                                            "--repeat", "--log", log, "program", binFile});
        ASSERT_TRUE(gangs[g].waitForStarted(10000));
    }
    // Three rounds each, the answers given as each prompt comes so that the rounds of the two overlap.
    const QByteArray prompt = "Insert the next chip and press Enter (q to stop)";
    QByteArray err[2];
    for (int round = 1; round <= 3; ++round)
        for (int g = 0; g < 2; ++g) {
            while (err[g].count(prompt) < round && gangs[g].waitForReadyRead(60000))
                err[g] += gangs[g].readAllStandardError();
            gangs[g].write(round < 3 ? "\n" : "q\n");
        }
    for (int g = 0; g < 2; ++g) {
        ASSERT_TRUE(gangs[g].waitForFinished(60000));
        EXPECT_EQ(gangs[g].exitCode(), 0) << (err[g] + gangs[g].readAllStandardError()).toStdString();
    }

    std::set<quint64> numbers;
    for (const QJsonObject& r : logRecords(log)) {
        EXPECT_EQ(r["result"].toString(), "passed");
        numbers.insert(static_cast<quint64>(r["serial"].toInteger()));
        EXPECT_NE(r["programmed_checksum"].toString(), r["checksum"].toString()) << "the number is in it";
    }
    EXPECT_EQ(numbers.size(), 24u) << "8 chips a round, 3 rounds, no number twice";
    EXPECT_EQ(*numbers.begin(), 1000u);
    EXPECT_EQ(*numbers.rbegin(), 1023u) << "none skipped";
    EXPECT_EQ(readWholeFile(counter), "1024\n");
    // The last round's chips hold 8 different numbers.
    std::set<int> inChips;
    for (const auto& sim : sims) {
        const QByteArray m = sim->memory(c2051);
        inChips.insert((quint8(m[0x7F0]) << 8) | quint8(m[0x7F1]));
    }
    EXPECT_EQ(inChips.size(), 8u);
}

// The tool killed at any moment never lets a number be given twice: whatever a chip holds is below the
// counter's next number, and the counter always holds a whole number that only grows.
TEST_F(Bench, AKilledStationNeverCausesANumberToBeGivenTwice) {
    const auto sims = startSims(2);
    writeWholeFile(counter, "500\n");
    const QString cli = qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-cli";
    std::mt19937 random(20261211);
    quint64 next = 500;
    for (int attempt = 0; attempt < 8; ++attempt) {
        QProcess station;
        station.setWorkingDirectory(dir.path());
        station.start(cli, ports(sims) + QStringList{"--chip", "0", "--serial", "0x7F0:4:le", "--serial-file",
                                                     counter, "--repeat", "program", binFile});
        ASSERT_TRUE(station.waitForStarted(10000));
        station.write(QByteArray(20, '\n'));
        QThread::msleep(std::uniform_int_distribution<int>(0, 600)(random));
        station.kill();
        ASSERT_TRUE(station.waitForFinished(10000));

        const QByteArray text = readWholeFile(counter);
        ASSERT_TRUE(text.endsWith('\n')) << "a whole number: " << text.toStdString();
        bool ok = false;
        const quint64 now = text.trimmed().toULongLong(&ok);
        ASSERT_TRUE(ok) << text.toStdString();
        EXPECT_GE(now, next) << "it only grows";
        next = now;
        for (const auto& sim : sims) {
            const QByteArray m = sim->memory(c2051);
            const quint32 inChip = quint8(m[0x7F0]) | (quint8(m[0x7F1]) << 8) | (quint8(m[0x7F2]) << 16) |
                                   (quint32(quint8(m[0x7F3])) << 24);
            if (inChip != 0xFFFFFFFFu) {
                EXPECT_GE(inChip, 500u);
                EXPECT_LT(inChip, now) << "a number in a chip was taken for good";
            }
        }
    }
    // And the station goes on from there.
    const CliResult r = runCli(ports(sims) + QStringList{"--chip", "0", "--serial", "0x7F0:4:le", "--serial-file",
                                                         counter, "program", binFile},
                               dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(readWholeFile(counter), QByteArray::number(next + 2) + "\n");
}

TEST_F(Bench, ASerialNumberThatCannotBeGivenIsRefusedBeforeAnyPortIsTouched) {
    const auto sims = startSims(1);
    const QByteArray erased(c2051Size, char(0xFF));
    const struct {
        const char* name;
        QStringList options;
        QByteArray counterHolds; // empty: no counter file
        const char* says;
    } cases[] = {
        {"outside the chip", {"--serial", "0x7FE:4:le"}, "1\n", "reach past the chip's 2048 bytes"},
        {"over the file's data", {"--serial", "0x20:4:le"}, "1\n", "the file's own data is at 0020H"},
        {"no longer fits", {"--serial", "0x700:1:le"}, "256\n", "the next serial number 256 does not fit in 1"},
        {"unknown format", {"--serial", "0x700:4:hex"}, "1\n", "the format \"hex\""},
        {"a counter started again", {"--serial", "0x700:4:le", "--serial-start", "1"}, "77\n", "File exists"},
        {"no counter", {"--serial", "0x700:4:le"}, {}, "--serial-start N"},
        {"a counter that holds no number", {"--serial", "0x700:4:le"}, "twelve\n", "holds no serial number"},
        {"without its file", {"--serial", "0x700:4:le", "--no-file"}, "1\n", "go together"},
        {"with verify", {"--serial", "0x700:4:le", "--verify"}, "1\n", "goes with program and auto"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(counter);
        if (!c.counterHolds.isEmpty()) writeWholeFile(counter, c.counterHolds);
        QStringList options = c.options;
        const bool noFile = options.removeAll("--no-file") > 0;
        const bool verify = options.removeAll("--verify") > 0;
        if (!noFile) options << "--serial-file" << counter;
        const CliResult r = runCli(ports(sims) + QStringList{"--chip", "0"} + options +
                                       QStringList{verify ? "verify" : "auto", binFile},
                                   dir.path());
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_EQ(sims[0]->memory(c2051), erased) << "no port touched";
        if (!c.counterHolds.isEmpty()) {
            EXPECT_EQ(readWholeFile(counter), c.counterHolds) << "no number taken";
        }
    }
}

TEST_F(Bench, BlankSaysWhetherTheChipIsErasedOnOnePortAndOnAGang) {
    const auto sims = startSims(3);
    // A chip erased, one programmed, and one with a single byte left.
    writeWholeFile(dir.filePath("one.hex"), ":01012300A537\n:00000001FF\n");
    ASSERT_EQ(runCli({"--port", sims[1]->device(), "--chip", "0", "program", binFile}, dir.path()).exitCode, 0);
    ASSERT_EQ(runCli({"--port", sims[2]->device(), "--chip", "0", "program", "one.hex"}, dir.path()).exitCode, 0);

    const struct {
        int sim;
        int exit;
        const char* says;
    } alone[] = {
        {0, 0, "Chip is blank"},
        {1, 1, "Chip is not blank: 40 bytes are not FF, the first at 0000H holds 07H"},
        {2, 1, "Chip is not blank: 1 byte is not FF, the first at 0123H holds A5H"},
    };
    for (const auto& c : alone) {
        const CliResult r = runCli({"--port", sims[c.sim]->device(), "--chip", "0", "blank"}, dir.path());
        EXPECT_EQ(r.exitCode, c.exit) << r.err.toStdString();
        EXPECT_EQ(r.out, logText({"Reading Now ...... Please Wait !", "Read Finish !", c.says}));
    }

    const QString log = dir.filePath("blank.log");
    const CliResult gang = runCli(ports(sims) + QStringList{"--chip", "0", "--log", log, "blank"}, dir.path());
    EXPECT_EQ(gang.exitCode, 1);
    for (const auto& c : alone) {
        const QString label = sims[c.sim]->device().mid(5);
        EXPECT_TRUE(gang.out.contains(QStringLiteral("[%1] %2\n").arg(label, c.says).toUtf8())) << gang.out.toStdString();
    }
    const auto records = logRecords(log);
    ASSERT_EQ(records.size(), 3u);
    for (const QJsonObject& r : records) {
        EXPECT_EQ(r["operation"].toString(), "blank");
        const bool blank = r["port"].toString() == sims[0]->device();
        EXPECT_EQ(r["result"].toString(), blank ? "passed" : "failed");
        EXPECT_EQ(r["checksum"].isNull(), !blank);
    }
}

} // namespace
