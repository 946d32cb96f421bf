// chipwright-cli on a bench of programmers: one command on several simulators at once, chip after chip, with
// a log line per run and port.
#include "cliprocess.h"
#include "support/simrunner.h"
#include "support/tempconfig.h"

#include "serial/comport.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int c2051 = 0;
constexpr int c2051Size = 2048;

const QString nextChipPrompt = "Insert the next chip and press Enter (q to stop)";

// 40 bytes of a pattern that differs with seed: two whole blocks and half a third.
QByteArray image(int seed = 0) {
    QByteArray bytes;
    for (int i = 0; i < 40; ++i)
        bytes.append(char(i * 7 + 3 + seed * 11));
    return bytes;
}

// The 16-bit sum of the blocks a program run sends: the image padded with FF to whole blocks.
QString checksumOfProgrammed(const QByteArray& data) {
    const QByteArray sent = data + QByteArray((16 - data.size() % 16) % 16, char(0xFF));
    unsigned sum = 0;
    for (const char c : sent)
        sum += quint8(c);
    return QString::number(sum & 0xFFFF, 16).rightJustified(4, '0').toUpper();
}

// "[pts/3] " for /dev/pts/3: how several ports label their lines.
QString labelOf(const QString& device) {
    return device.mid(QStringLiteral("/dev/").size());
}

// The lines of text that start with "[label] ", without it.
QStringList linesOf(const QByteArray& text, const QString& label) {
    QStringList lines;
    const QString prefix = '[' + label + "] ";
    for (const QString& line : QString::fromUtf8(text).split('\n'))
        if (line.startsWith(prefix)) lines << line.mid(prefix.size());
    return lines;
}

// The summary table's row for the port: its words after the label.
QStringList summaryRow(const QByteArray& out, const QString& label) {
    for (const QString& line : QString::fromUtf8(out).split('\n'))
        if (line.startsWith(label + ' ')) return line.mid(label.size()).split(' ', Qt::SkipEmptyParts);
    return {};
}

const QJsonObject* recordFor(const std::vector<QJsonObject>& records, const QString& device) {
    for (const QJsonObject& r : records)
        if (r["port"].toString() == device) return &r;
    return nullptr;
}

class Gang : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        binFile = dir.filePath("image.bin");
        writeWholeFile(binFile, image());
    }

    // Starts n simulators (with these options for the one at faulty, if any).
    void startSims(int n, int faulty = -1, const QStringList& faultOptions = {}) {
        for (int i = 0; i < n; ++i) {
            sims.push_back(std::make_unique<SimRunner>(i == faulty ? faultOptions : QStringList{}));
            ASSERT_TRUE(sims.back()->ok());
        }
    }

    QStringList portOptions() const {
        QStringList options;
        for (const auto& sim : sims)
            options << "--port" << sim->device();
        return options;
    }

    CliResult onAll(const QStringList& arguments, const QByteArray& input = {}) {
        return runCli(portOptions() + QStringList{"--chip", QString::number(c2051)} + arguments, dir.path(),
                      input);
    }

    QByteArray programmed(int seed = 0) const { return image(seed) + QByteArray(c2051Size - 40, char(0xFF)); }

    TempConfigHome home;
    QTemporaryDir dir;
    QString binFile;
    std::vector<std::unique_ptr<SimRunner>> sims;
};

TEST_F(Gang, EveryPortProgramsItsOwnChipLabelsItsLinesAndLogsItsRun) {
    startSims(3);
    const QString log = dir.filePath("chips.log");
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const CliResult r = onAll({"--lock", "2", "--log", log, "auto", binFile});
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(r.err, "");

    const std::vector<QJsonObject> records = logRecords(log);
    EXPECT_EQ(records.size(), sims.size());
    for (const auto& sim : sims) {
        const QString label = labelOf(sim->device());
        EXPECT_EQ(sim->memory(c2051), programmed()) << label.toStdString();
        EXPECT_EQ(sim->lockLevel(c2051), 2);
        // Each port's lines are the window's log of an Auto run, in order, whatever the others do meanwhile.
        EXPECT_EQ(linesOf(r.out, label), autoLog) << label.toStdString();
        const QStringList row = summaryRow(r.out, label);
        ASSERT_GE(row.size(), 3) << r.out.toStdString();
        EXPECT_EQ(row[0], "passed");
        EXPECT_EQ(row.mid(2), QStringList{"s"}) << "time, no failure";

        const QJsonObject* rec = recordFor(records, sim->device());
        ASSERT_NE(rec, nullptr) << sim->device().toStdString();
        const QDateTime time = QDateTime::fromString((*rec)["time"].toString(), Qt::ISODateWithMs);
        EXPECT_TRUE(time.isValid()) << (*rec)["time"].toString().toStdString();
        EXPECT_TRUE(QRegularExpression("T\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$")
                        .match((*rec)["time"].toString())
                        .hasMatch())
            << "the time carries its zone: " << (*rec)["time"].toString().toStdString();
        EXPECT_GE(time, before);
        EXPECT_LE(time, QDateTime::currentDateTime());
        EXPECT_EQ((*rec)["chip"].toString(), "AT89C2051");
        EXPECT_EQ((*rec)["operation"].toString(), "auto");
        EXPECT_EQ((*rec)["file"].toString(), binFile);
        EXPECT_EQ((*rec)["checksum"].toString(), checksumOfProgrammed(image()));
        EXPECT_EQ((*rec)["lock"].toInt(-1), 2);
        EXPECT_EQ((*rec)["result"].toString(), "passed");
        EXPECT_EQ((*rec)["failure"].toString(), "");
        EXPECT_GT((*rec)["duration"].toDouble(), 0.0);
    }
}

// One programmer that fails, goes silent, is unplugged, is held by another program or is not there at all:
// the others still program their chips, and none of them waits for it.
TEST_F(Gang, OnePortFailingNeitherStopsNorHoldsUpTheOthers) {
    const struct {
        const char* name;
        QStringList simOptions;
        const char* failure; // what its summary row and its log record say
        bool holdsUp;        // its failure takes the watchdog's time
        bool portError;      // the port failed, not the chip
    } faults[] = {
        {"failure reply", {"--fail-program"}, "Program Fail ! Please Check!", false, false},
        {"silence", {"--silence-after", "30"}, "Error ! Please Check The Connection Whether OK !", true, false},
        {"unplugged",
         {"--hangup-after", "30"},
         "Error ! Please Check The Connection Whether OK ! Or Check Whether Suited Of The MCU Type !: "
         "Input/output error",
         true,
         true},
        {"held by another program", {}, "is in use", false, true},
        {"not there", {}, "No such file or directory", false, true},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.name);
        sims.clear();
        startSims(3, 1, fault.simOptions);
        QStringList ports = portOptions();
        TComPort holder;
        if (QString(fault.name) == "held by another program") {
            holder.SetPort(sims[1]->device());
            holder.Connect();
        }
        const QString faultyDevice =
            QString(fault.name) == "not there" ? dir.filePath("ttyGONE") : sims[1]->device();
        ports[3] = faultyDevice;
        const QString log = dir.filePath(QString("%1.log").arg(fault.name));
        const CliResult r =
            runCli(ports + QStringList{"--chip", "0", "--log", log, "auto", binFile}, dir.path());
        EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString();

        const std::vector<QJsonObject> records = logRecords(log);
        const QJsonObject* failed = recordFor(records, faultyDevice);
        ASSERT_NE(failed, nullptr);
        EXPECT_EQ((*failed)["result"].toString(), fault.portError ? "port-error" : "failed");
        EXPECT_TRUE((*failed)["failure"].toString().contains(fault.failure))
            << (*failed)["failure"].toString().toStdString();
        EXPECT_EQ((*failed)["checksum"].toString(), checksumOfProgrammed(image()))
            << "the image it was to get";
        const QString faultyLabel = faultyDevice.startsWith("/dev/") ? labelOf(faultyDevice) : "ttyGONE";
        const QStringList row = summaryRow(r.out, faultyLabel);
        ASSERT_FALSE(row.isEmpty()) << r.out.toStdString();
        EXPECT_EQ(row[0], fault.portError ? "PORT-ERROR" : "FAILED");
        EXPECT_TRUE(row.join(' ').contains(fault.failure)) << row.join(' ').toStdString();
        // No line says who it is from twice: one port label, one tool prefix at most.
        for (const QString& line : QString::fromUtf8(r.out + r.err).split('\n')) {
            EXPECT_LE(line.count("chipwright-cli: "), 1) << line.toStdString();
            EXPECT_LE(line.count(QRegularExpression(R"(\[[^\]]+\] )")), 1) << line.toStdString();
        }

        for (int i : {0, 2}) {
            const QString label = labelOf(sims[i]->device());
            EXPECT_EQ(sims[i]->memory(c2051), programmed()) << label.toStdString();
            EXPECT_EQ(linesOf(r.out, label), autoLog) << label.toStdString();
            EXPECT_EQ(summaryRow(r.out, label).value(0), "passed");
            const QJsonObject* rec = recordFor(records, sims[i]->device());
            ASSERT_NE(rec, nullptr);
            EXPECT_EQ((*rec)["result"].toString(), "passed");
            // A port that waits out a silent programmer's watchdog never makes the others wait with it.
            if (fault.holdsUp) {
                EXPECT_LT((*rec)["duration"].toDouble(), (*failed)["duration"].toDouble());
            }
        }
    }
}

TEST_F(Gang, ReadFromSeveralPortsWritesAFilePerPort) {
    for (int seed : {1, 2}) {
        sims.push_back(
            std::make_unique<SimRunner>(QStringList{}, std::map<int, QByteArray>{{c2051, programmed(seed)}}));
        ASSERT_TRUE(sims.back()->ok());
    }
    const CliResult r = onAll({"--trace", "wire.txt", "read", "chip.bin"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    for (int i : {0, 1}) {
        const QString label = labelOf(sims[i]->device()).replace('/', '_');
        EXPECT_EQ(readWholeFile(dir.filePath("chip-" + label + ".bin")), programmed(i + 1))
            << label.toStdString();
        // Each port's trace holds its own line: its last block request and that block.
        const QByteArray trace = readWholeFile(dir.filePath("wire-" + label + ".txt"));
        EXPECT_TRUE(trace.contains("block request 127")) << trace.toStdString();
        EXPECT_FALSE(trace.contains("[")) << "a file of its own needs no label";
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("chip.bin")));
}

// Usage and file problems are found once, before any programmer hears a byte.
TEST_F(Gang, ProblemsWithTheCommandStopItBeforeAnyPortIsTouched) {
    for (int i = 0; i < 2; ++i) {
        sims.push_back(
            std::make_unique<SimRunner>(QStringList{}, std::map<int, QByteArray>{{c2051, programmed()}}));
        ASSERT_TRUE(sims.back()->ok());
    }
    const struct {
        QStringList arguments;
        const char* error;
    } cases[] = {
        {{"program", "missing.hex"}, "No such file or directory"},
        {{"--log", "no/such/folder/chips.log", "erase"}, "cannot write the log"},
        {{"--trace", "no/such/folder/wire.txt", "erase"}, "cannot write the trace"},
        {{"read", "no/such/folder/chip.bin"}, "does not exist"},
    };
    for (const auto& c : cases) {
        const CliResult r = onAll(c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.error)) << r.err.toStdString();
        EXPECT_EQ(r.out, "");
    }
    const CliResult same = runCli({"--port", sims[0]->device(), "--port", sims[0]->device().mid(5), "erase"});
    EXPECT_EQ(same.exitCode, 2);
    EXPECT_TRUE(same.err.contains("name the same device")) << same.err.toStdString();
    // No erase reached them.
    for (const auto& sim : sims)
        EXPECT_EQ(sim->memory(c2051), programmed());
}

TEST_F(Gang, RepeatAsksForTheNextChipOncePerRoundAndCountsUntilQ) {
    startSims(2);
    const QString log = dir.filePath("chips.log");
    const CliResult r = onAll({"--repeat", "--log", log, "auto", binFile}, "\n\nq\n");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString err = QString::fromUtf8(r.err);
    EXPECT_EQ(err.count(nextChipPrompt), 3) << err.toStdString();
    for (const char* count : {"Passed 2, failed 0", "Passed 4, failed 0", "Passed 6, failed 0"})
        EXPECT_TRUE(err.contains(count)) << count;
    EXPECT_TRUE(err.trimmed().endsWith("Total: passed 6, failed 0")) << err.toStdString();
    EXPECT_EQ(logRecords(log).size(), 6u);
    for (const auto& sim : sims) {
        EXPECT_EQ(linesOf(r.out, labelOf(sim->device())), autoLog + autoLog + autoLog);
        const QStringList row = summaryRow(r.out, labelOf(sim->device()));
        EXPECT_EQ(row.mid(0, 2), (QStringList{"3", "0"})) << "passed, failed";
    }
}

TEST_F(Gang, RepeatOnOnePortCountsFailedChipsAndStopsAtTheEndOfItsInput) {
    sims.push_back(std::make_unique<SimRunner>(QStringList{"--fail-program"}));
    ASSERT_TRUE(sims.back()->ok());
    const CliResult r = onAll({"--repeat", "program", binFile}, "\n");
    EXPECT_EQ(r.exitCode, 1);
    const QString err = QString::fromUtf8(r.err);
    EXPECT_TRUE(err.contains("Passed 0, failed 1")) << err.toStdString();
    EXPECT_TRUE(err.trimmed().endsWith("Total: passed 0, failed 2")) << err.toStdString();
    EXPECT_EQ(r.out, logText({"Programming Now ...... Please Wait !", "Program Fail !  Please Check!",
                              "Programming Now ...... Please Wait !", "Program Fail !  Please Check!"}))
        << "one port: the window's lines as they are";
}

// Two benches append to one log at once, and one of them is killed while it works: every line stays whole.
TEST_F(Gang, LogLinesStayWholeWhenRunsEndTogetherAndWhenTheToolIsKilled) {
    startSims(4);
    const QString log = dir.filePath("chips.log");
    const QString cli = qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-cli";
    QProcess benches[2];
    for (int b = 0; b < 2; ++b) {
        benches[b].setWorkingDirectory(dir.path());
        benches[b].start(cli, portOptions().mid(b * 4, 4) +
                                  QStringList{"--chip", "0", "--repeat", "--log", log, "auto", binFile});
        ASSERT_TRUE(benches[b].waitForStarted(10000));
        benches[b].write(QByteArray(8, '\n'));
    }
    benches[1].closeWriteChannel();
    // The first bench is killed once a few of its chips are logged, in the middle of a round.
    benches[0].setReadChannel(QProcess::StandardError);
    QByteArray err;
    while (err.count(nextChipPrompt.toUtf8()) < 3 && benches[0].waitForReadyRead(30000))
        err += benches[0].readAllStandardError();
    benches[0].kill();
    ASSERT_TRUE(benches[0].waitForFinished(30000));
    ASSERT_TRUE(benches[1].waitForFinished(60000));
    EXPECT_EQ(benches[1].exitCode(), 0) << benches[1].readAllStandardError().toStdString();

    const QByteArray text = readWholeFile(log);
    EXPECT_TRUE(text.endsWith('\n'));
    const std::vector<QJsonObject> records = logRecords(log); // every line parses
    EXPECT_GE(records.size(), 2u * 9 + 2u * 3) << "the second bench's 9 rounds and the first's 3";
    for (const QJsonObject& r : records)
        EXPECT_EQ(r["result"].toString(), "passed");
}

TEST_F(Gang, CtrlCAtThePromptStopsWithTheTotals) {
    startSims(1);
    QProcess cli;
    cli.setWorkingDirectory(dir.path());
    cli.start(qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-cli",
              portOptions() + QStringList{"--chip", "0", "--repeat", "erase"});
    ASSERT_TRUE(cli.waitForStarted(10000));
    cli.setReadChannel(QProcess::StandardError);
    QByteArray err;
    while (!err.contains(nextChipPrompt.toUtf8()) && cli.waitForReadyRead(30000))
        err += cli.readAllStandardError();
    ASSERT_TRUE(err.contains(nextChipPrompt.toUtf8())) << err.toStdString();
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(30000));
    err += cli.readAllStandardError();
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(err).trimmed().endsWith("Total: passed 1, failed 0")) << err.toStdString();
}

} // namespace
