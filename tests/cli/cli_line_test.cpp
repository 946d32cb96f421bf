// chipwright-cli against far ends the simulator does not play: stray statuses in the middle of a run, a line
// that chatters instead of answering, a reader that goes away, a run killed half-way, a port held by another
// run.
#include "cliprocess.h"
#include "support/farend.h"
#include "support/simrunner.h"
#include "support/tempconfig.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString erasing = QStringLiteral("Erasing Now ...... Please Wait !");
const QString autoErasing = QStringLiteral("Erasing Now ......Please Wait !");
const QString programming = QStringLiteral("Programming Now ...... Please Wait !");

QString unexpected(const char* status, const char* doing) {
    return QStringLiteral("Unexpected Reply %1H While %2 !  Please Check!").arg(status, doing);
}

QString cliPath() {
    return qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-cli";
}

class CliLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QByteArray image;
        for (int i = 0; i < 40; ++i)
            image.append(char(i * 7 + 3));
        binFile = dir.filePath("image.bin");
        QFile f(binFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(image);
    }
    CliResult onChip(const QString& device, const QStringList& arguments) {
        return runCli(QStringList{"--port", device, "--chip", "0"} + arguments, dir.path());
    }

    TempConfigHome home;
    QTemporaryDir dir;
    QString binFile;
};

} // namespace

TEST_F(CliLine, AStatusThatCannotEndTheRunFailsItAndNamesTheByte) {
    using R = ScriptedFarEnd::Reply;
    struct Case {
        const char* name;
        QStringList arguments;
        std::vector<R> script;
        QStringList log;
        QString reason; // on standard error
    };
    // Bytes the host sends: a command is 3, a data frame 18.
    const std::vector<Case> cases = {
        {"a programmer that reset after block 0",
         {"program", "image.bin"},
         {R{3, "\x03"}, R{21, "\x02"}},
         {programming, unexpected("02", "Programming")},
         unexpected("02", "Programming")},
        {"an erase reply in the middle of a program",
         {"program", "image.bin"},
         {R{3, "\x03"}, R{21, "\x06"}},
         {programming, unexpected("06", "Programming")},
         unexpected("06", "Programming")},
        {"a lock reply in the middle of an auto run's program",
         {"auto", "image.bin"},
         {R{3, "\x06"}, R{3, "\x03", 100}, R{21, "\x09"}},
         {autoErasing, programming, unexpected("09", "Programming")},
         unexpected("09", "Programming")},
        {"an erase answered by a lock reply",
         {"erase"},
         {R{3, "\x09"}},
         {erasing, unexpected("09", "Erasing")},
         unexpected("09", "Erasing")},
        {"a lock answered by the ready reply",
         {"lock"},
         {R{3, "\x02"}},
         {unexpected("02", "Locking")},
         unexpected("02", "Locking")},
        // The window takes 06 00 as a plain erase; the command asked for the whole run.
        {"an auto run answered with a plain erase",
         {"auto", "image.bin"},
         {R{3, QByteArray("\x06\x00", 2)}},
         {autoErasing, "Earse Succssed !"},
         "the programmer ended the run with \"Earse Succssed !\" where \"Lock Succssed !\" was due"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFarEnd farEnd(c.script);
        const CliResult r = onChip(farEnd.device(), c.arguments);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, logText(c.log));
        EXPECT_TRUE(r.err.contains(c.reason.toUtf8())) << r.err.toStdString();
    }
}

TEST_F(CliLine, AChattyLineNeverExtendsTheWaitForTheAnswer) {
    struct Case {
        QStringList arguments;
        int limitMs; // the tool's own limit or the watchdog's
        QString lastLine;
    };
    const std::vector<Case> cases = {
        {{"probe"}, 1000, "Programmer  Not  Found !"},
        {{"lock"}, 3000, connectionErrorLine},
        {{"auto", "image.bin"}, 1000, connectionErrorLine},
    };
    for (const int chatterMs : {300, 2500}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.arguments.join(' ').toStdString() + " chatter every " + std::to_string(chatterMs));
            ScriptedFarEnd farEnd({}, chatterMs, '\0');
            QElapsedTimer clock;
            clock.start();
            const CliResult r = onChip(farEnd.device(), c.arguments);
            EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
            EXPECT_TRUE(r.out.endsWith((c.lastLine + '\n').toUtf8())) << r.out.toStdString();
            // No hang: the bound is the limit plus a start-up allowance for a loaded machine.
            EXPECT_LT(clock.elapsed(), c.limitMs + 10000);
        }
    }
}

TEST_F(CliLine, AReaderThatGoesAwayDoesNotStopTheRun) {
    SimRunner sim;
    ASSERT_TRUE(sim.ok());
    QProcess shell;
    shell.setWorkingDirectory(dir.path());
    // head takes the first log line and leaves; the run goes on to its end all the same.
    shell.start("bash", {"-c",
                         "\"$0\" --port \"$1\" --chip 0 --lock 2 auto image.bin | head -1; "
                         "exit \"${PIPESTATUS[0]}\"",
                         cliPath(), sim.device()});
    ASSERT_TRUE(shell.waitForFinished(60000));
    // The lost lines are told of at the end, with an exit code that is not 0.
    EXPECT_EQ(shell.exitCode(), 2);
    EXPECT_EQ(shell.readAllStandardError(), "chipwright-cli: cannot write standard output: Broken pipe\n");
    EXPECT_EQ(shell.readAllStandardOutput(), (autoErasing + '\n').toUtf8());
    QFile f(binFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray image = f.readAll();
    EXPECT_EQ(sim.memory(0).left(image.size()), image);
    EXPECT_EQ(sim.lockLevel(0), 2) << "the run went on to its Lock";
}

// Runs the tool as an ordinary user: as root, as nobody; otherwise as the user the tests run as.
class UserRun {
public:
    explicit UserRun(const QString& configHome) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", configHome);
        process.setProcessEnvironment(env);
    }
    static bool asNobody() { return ::geteuid() == 0; }
    void start(const QStringList& arguments) {
        if (asNobody())
            process.start("setpriv",
                          QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", cliPath()} +
                              arguments);
        else
            process.start(cliPath(), arguments);
        process.waitForStarted(10000);
        process.closeWriteChannel();
    }
    // The program has started and is some blocks into the exchange.
    bool waitUntilProgramming() {
        QByteArray out;
        while (!out.contains("Programming Now")) {
            if (!process.waitForReadyRead(30000)) return false;
            out += process.readAllStandardOutput();
        }
        QThread::msleep(500);
        return true;
    }
    QProcess process;
};

TEST_F(CliLine, AKilledRunLeavesThePortFreeAndALiveRunKeepsItsOwn) {
    // At 9600 baud the 2 KB program takes about three seconds on the wire: long enough to be caught in it.
    SimRunner sim({"--baud", "9600"});
    ASSERT_TRUE(sim.ok());
    QTemporaryDir userHome;
    ASSERT_TRUE(userHome.isValid());
    ::chmod(QFile::encodeName(userHome.path()).constData(), 0777);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    ::chmod(QFile::encodeName(sim.device()).constData(), 0666);
    QByteArray big(2048, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 13 + 1);
    const QString bigFile = dir.filePath("big.bin");
    {
        QFile f(bigFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(big);
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ReadGroup);
    }
    if (UserRun::asNobody()) {
        UserRun check(userHome.path());
        check.start({"--help"});
        check.process.waitForFinished(10000);
        if (check.process.exitCode() != 0)
            GTEST_SKIP() << "the built tool cannot be run by nobody here (folder permissions)";
    }
    const QStringList program = {"--port", sim.device(), "--chip", "0", "program", bigFile};
    const QStringList probe = {"--port", sim.device(), "probe"};

    // A run killed in the middle of its program.
    {
        UserRun killed(userHome.path());
        killed.start(program);
        ASSERT_TRUE(killed.waitUntilProgramming());
        ::kill(static_cast<pid_t>(killed.process.processId()), SIGKILL);
        killed.process.waitForFinished(10000);
    }
    QThread::msleep(300); // the simulator drops the cut frame
    {
        UserRun next(userHome.path());
        next.start(probe);
        ASSERT_TRUE(next.process.waitForFinished(30000));
        EXPECT_EQ(next.process.exitCode(), 0) << next.process.readAllStandardError().toStdString();
        EXPECT_EQ(next.process.readAllStandardOutput(), "Programmer is Ready !\n");
    }

    // While one run holds the port, a second is refused and told who holds it.
    UserRun holder(userHome.path());
    holder.start(program);
    ASSERT_TRUE(holder.waitUntilProgramming());
    UserRun second(userHome.path());
    second.start(probe);
    ASSERT_TRUE(second.process.waitForFinished(30000));
    EXPECT_EQ(second.process.exitCode(), 1);
    const QString err = QString::fromUtf8(second.process.readAllStandardError());
    EXPECT_TRUE(err.contains("Device or resource busy")) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("in use by process %1 (").arg(holder.process.processId())))
        << err.toStdString();
    ASSERT_TRUE(holder.process.waitForFinished(60000));
    EXPECT_EQ(holder.process.exitCode(), 0) << holder.process.readAllStandardError().toStdString();
}
