// chipwright-cli at a production station, as an operator runs it all day: a terminal as standard input with
// keys pressed at any moment, programmers that go away between chips, a log that fills its disk.
#include "cliprocess.h"
#include "terminalrun.h"
#include "support/simrunner.h"
#include "support/tempconfig.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

constexpr int c2051 = 0;
constexpr int c2051Size = 2048;
const QByteArray prompt = "Insert the next chip and press Enter (q to stop)";
const QByteArray roundStart = "Erasing Now ......Please Wait !";

// 40 bytes: two whole blocks and half a third.
QByteArray image() {
    QByteArray bytes;
    for (int i = 0; i < 40; ++i)
        bytes.append(char(i * 5 + 1));
    return bytes;
}

QByteArray programmed() {
    return image() + QByteArray(c2051Size - 40, char(0xFF));
}

class Station : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        binFile = dir.filePath("image.bin");
        writeWholeFile(binFile, image());
        log = dir.filePath("chips.log");
    }

    // A name in the test's folder for the programmer's device, as an adapter's stable name: it can be taken
    // away (unplugged) and pointed at another programmer (plugged in again) without reusing /dev/pts numbers
    // that other tests' simulators may get meanwhile.
    QString plug(const QString& name, const SimRunner& sim) {
        const QString link = dir.filePath(name);
        QFile::remove(link);
        EXPECT_TRUE(QFile::link(sim.device(), link));
        return link;
    }
    void unplug(const QString& name) { QFile::remove(dir.filePath(name)); }

    std::unique_ptr<SimRunner> sim(const QStringList& options = {}) {
        auto s = std::make_unique<SimRunner>(options);
        EXPECT_TRUE(s->ok());
        return s;
    }

    QStringList station(const QStringList& ports, const QStringList& more = {}) {
        QStringList arguments;
        for (const QString& port : ports)
            arguments << "--port" << port;
        return arguments + QStringList{"--chip", QString::number(c2051), "--repeat", "--log", log} + more +
               QStringList{"auto", binFile};
    }

    TempConfigHome home;
    QTemporaryDir dir;
    QString binFile;
    QString log;
};

// Enter pressed while a chip is programmed answers no question; only Enter alone at the prompt starts the
// next round, the stop words end the session, anything else is asked again.
TEST_F(Station, OnlyADeliberateAnswerAtThePromptStartsARound) {
    // Blocks that take a while to program, so that the keys surely fall into the round.
    const auto programmer = sim({"--block-time", "300"});
    const QString port = plug("ttyUSB0", *programmer);
    const struct {
        const char* name;
        QByteArray stop; // what ends the session after the second round
    } endings[] = {{"quit", "QUIT\n"}, {"end of input", "\x04"}};
    for (const auto& ending : endings) {
        SCOPED_TRACE(ending.name);
        QFile::remove(log);
        TerminalRun cli(station({port}), dir.path());
        ASSERT_TRUE(cli.started());
        ASSERT_TRUE(cli.waitForOut(roundStart));
        cli.type("\n\n\n"); // during the first round
        ASSERT_TRUE(cli.waitForErr(prompt, 1)) << cli.err().toStdString();
        QThread::msleep(400);
        EXPECT_EQ(cli.out().count(roundStart), 1) << "keys typed during the round started nothing";

        for (const char* typed : {"n\n", "yes\n"}) {
            const int prompts = static_cast<int>(cli.err().count(prompt));
            const QByteArray answer(typed);
            cli.type(answer);
            ASSERT_TRUE(cli.waitForErr(prompt, prompts + 1)) << cli.err().toStdString();
            EXPECT_TRUE(cli.err().contains("\"" + answer.trimmed() + "\" is no answer here"));
            EXPECT_EQ(cli.out().count(roundStart), 1) << answer.toStdString() << " started no round";
        }
        cli.type("\n");
        ASSERT_TRUE(cli.waitForOut(roundStart, 2));
        ASSERT_TRUE(cli.waitForErr("Passed 2, failed 0"));
        ASSERT_TRUE(cli.waitForErr(prompt, 4));
        cli.type(ending.stop);
        EXPECT_EQ(cli.finish(), 0) << cli.err().toStdString();
        EXPECT_TRUE(cli.err().trimmed().endsWith("Total: passed 2, failed 0")) << cli.err().toStdString();
        EXPECT_EQ(cli.out().count("Lock Succssed !"), 2);
        const auto records = logRecords(log);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0]["round"].toInt(), 1);
        EXPECT_EQ(records[1]["round"].toInt(), 2);
        EXPECT_EQ(records[0]["session"].toString(), records[1]["session"].toString());
    }
    EXPECT_EQ(programmer->memory(c2051), programmed());
}

// A programmer unplugged between chips is a port error, named at every prompt, not a failed chip; once it
// could not be opened in three rounds in a row it is dropped, and the other port goes on.
TEST_F(Station, APortThatGoesIsNamedAtThePromptAndDroppedAfterThreeRounds) {
    auto stays = sim();
    auto goes = sim();
    const QString a = plug("ttyUSB0", *stays);
    const QString b = plug("ttyUSB1", *goes);
    TerminalRun cli(station({a, b}, {"--operator", "ann"}), dir.path());
    ASSERT_TRUE(cli.started());
    ASSERT_TRUE(cli.waitForErr(prompt, 1)) << cli.err().toStdString();
    EXPECT_TRUE(cli.err().contains("Passed 2, failed 0\n"));

    unplug("ttyUSB1");
    goes.reset();
    for (int round = 2; round <= 6; ++round) {
        cli.type("\n");
        ASSERT_TRUE(cli.waitForErr(prompt, round)) << "round " << round << "\n" << cli.err().toStdString();
    }
    cli.type("q\n");
    EXPECT_EQ(cli.finish(), 1) << "a port error is no pass";
    const QString err = QString::fromUtf8(cli.err());

    // Each prompt after the programmer went names it with the reason.
    const QStringList prompts = err.split(QString::fromUtf8(prompt));
    ASSERT_EQ(prompts.size(), 7) << err.toStdString();
    EXPECT_TRUE(prompts[1].contains("ttyUSB1: port error:")) << prompts[1].toStdString();
    for (int round = 3; round <= 5; ++round)
        EXPECT_TRUE(prompts[round - 1].contains("ttyUSB1: port error: cannot open the port") &&
                    prompts[round - 1].contains("No such file or directory"))
            << prompts[round - 1].toStdString();
    EXPECT_TRUE(prompts[4].contains("ttyUSB1 is dropped from this session")) << prompts[4].toStdString();
    EXPECT_FALSE(prompts[5].contains("ttyUSB1")) << "no word of it once dropped";
    EXPECT_TRUE(err.contains("Passed 7, failed 0, port errors 4")) << err.toStdString();
    EXPECT_TRUE(err.trimmed().endsWith("Total: passed 7, failed 0, port errors 4")) << err.toStdString();

    // The log agrees: a line per port and round while it was in the session, the port's faults as such.
    const auto records = logRecords(log);
    ASSERT_EQ(records.size(), 6u + 5u);
    int passedA = 0;
    QStringList resultsB;
    for (const QJsonObject& r : records) {
        EXPECT_EQ(r["operator"].toString(), "ann");
        EXPECT_EQ(r["session"].toString(), records[0]["session"].toString());
        if (r["port"].toString() == a) {
            passedA += r["result"].toString() == "passed";
        } else {
            EXPECT_EQ(r["port"].toString(), b);
            resultsB << QString::number(r["round"].toInt()) + ":" + r["result"].toString();
        }
    }
    EXPECT_EQ(passedA, 6);
    EXPECT_EQ(resultsB, (QStringList{"1:passed", "2:port-error", "3:port-error", "4:port-error",
                                     "5:port-error"}));
    EXPECT_EQ(stays->memory(c2051), programmed());
}

// The line breaks while a round runs (the programmer unplugged as the verify command reaches it); the next
// rounds, on a sound programmer plugged in its place, start at once and pass byte for byte: nothing of the
// cut round (its verify mode, its watchdog) is left to take their replies.
TEST_F(Station, ARoundCutByABrokenLineLeavesNothingForTheNext) {
    // The auto command (3 bytes), three data frames and the end frame (18 bytes each), the verify command.
    const auto breaking = sim({"--hangup-after", QString::number(3 + 3 * 18 + 18 + 3)});
    const QString port = plug("ttyUSB0", *breaking);
    TerminalRun cli(station({port}), dir.path());
    ASSERT_TRUE(cli.started());
    ASSERT_TRUE(cli.waitForErr(prompt, 1)) << cli.err().toStdString();
    EXPECT_TRUE(cli.err().contains("Passed 0, failed 0, port errors 1")) << cli.err().toStdString();

    const auto sound = sim();
    plug("ttyUSB0", *sound);
    for (int round = 2; round <= 3; ++round) {
        cli.type("\n");
        ASSERT_TRUE(cli.waitForErr(prompt, round)) << cli.err().toStdString();
    }
    cli.type("q\n");
    EXPECT_EQ(cli.finish(), 1) << cli.err().toStdString();
    EXPECT_TRUE(cli.err().trimmed().endsWith("Total: passed 2, failed 0, port errors 1"))
        << cli.err().toStdString();
    EXPECT_EQ(cli.out().count("Verify Succssed !"), 2) << cli.out().toStdString();
    EXPECT_EQ(sound->memory(c2051), programmed());
    EXPECT_EQ(sound->lockLevel(c2051), 0) << "the saved lock level: none";
}

// A log that cannot take the next line whole (here a file size limit) keeps every earlier line and no part
// of the new one, and the station stops at once, naming the log.
TEST_F(Station, ALogThatCannotTakeALineStopsTheStationAndKeepsNoHalfLine) {
    const auto programmer = sim();
    const QString port = plug("ttyUSB0", *programmer);
    // Two lines of an earlier session.
    const CliResult earlier = runCli(station({port}), dir.path(), "\nq\n");
    ASSERT_EQ(earlier.exitCode, 0) << earlier.err.toStdString();
    const QByteArray before = readWholeFile(log);
    ASSERT_EQ(before.count('\n'), 2);

    const CliResult r = runCliThrough({"prlimit", QStringLiteral("--fsize=%1").arg(before.size() + 100)},
                                      station({port}), dir.path(), "\n\n\nq\n");
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_EQ(readWholeFile(log), before) << "no half line";
    EXPECT_TRUE(r.err.contains(("cannot write the log " + log + ": File too large").toUtf8()))
        << r.err.toStdString();
    EXPECT_EQ(r.out.count(roundStart.constData()), 1) << "no chip after the one that went unrecorded";
    EXPECT_EQ(r.err.count(prompt), 0);
}

// Standard output into a pipe (| tee station.txt) and standard error on the terminal: plain lines only,
// every one once, whole, in order for each port.
TEST_F(Station, WithOutputPipedEveryLineArrivesOnceWholeAndInOrder) {
    std::vector<std::unique_ptr<SimRunner>> sims;
    QStringList ports;
    for (int i = 0; i < 3; ++i) {
        sims.push_back(sim());
        ports << plug(QStringLiteral("ttyUSB%1").arg(i), *sims.back());
    }
    TerminalRun cli(station(ports), dir.path(), true);
    ASSERT_TRUE(cli.started());
    ASSERT_TRUE(cli.waitForErr(prompt, 1)) << cli.err().toStdString() << "\nOUT:" << cli.out().toStdString();
    cli.type("\n");
    ASSERT_TRUE(cli.waitForErr(prompt, 2)) << cli.err().toStdString();
    cli.type("stop\n");
    EXPECT_EQ(cli.finish(), 0) << cli.err().toStdString();

    QStringList expected;
    for (int round = 0; round < 2; ++round)
        for (const QString& line : autoLog)
            expected << line;
    for (int i = 0; i < 3; ++i) {
        const QString prefix = QStringLiteral("[ttyUSB%1] ").arg(i);
        QStringList lines;
        for (const QString& line : QString::fromUtf8(cli.out()).split('\n'))
            if (line.startsWith(prefix)) lines << line.mid(prefix.size());
        EXPECT_EQ(lines, expected) << prefix.toStdString();
    }
    EXPECT_FALSE(cli.err().contains("\033[")) << "no bars where the output is not on the terminal";
    EXPECT_FALSE(cli.out().contains("\033["));
}

} // namespace
