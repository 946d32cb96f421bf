// Damaged settings never stop start-up: the real main window starts with its application and port settings
// files replaced by noise, cut short at every position, made unreadable (a folder where the file should be)
// or unwritable, and comes up with a working port object and a usable window. A crash in the middle of
// writing the settings at shutdown leaves the previous settings whole.
#include "../shell/guitestsupport.h"
#include "platform/atomicfile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

QString portValues(const TempConfigHome& home) {
    return home.registry() +
           "/HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE/Software/HexFileOpenSet/ComPort/values.reg";
}

// Starts and closes the window once; what the user saw. Start-up may report a damaged setting, never crash.
QStringList startAndClose(const QString& port) {
    GuiFixture f;
    auto form = f.start(port);
    EXPECT_TRUE(form);
    form->close();
    form.reset();
    return f.messages + f.errors;
}

void dieBeforeRename(const QString&) {
    ::_exit(3);
}

// The child's side of a stop at its n-th settings write: it tells the parent through a pipe and waits there,
// after the new file is complete and before it replaces the old one, for the SIGKILL.
int writesBeforeStop = 0;
int stopPipe = -1;
void waitForKill(const QString&) {
    if (--writesBeforeStop > 0) return;
    const char stopped = 's';
    (void)!::write(stopPipe, &stopped, 1);
    for (;;)
        ::pause();
}

// Runs change in a child that has the window started; the child is killed by this process at its stopAt-th
// settings write (never, when 0). True when the child was killed there.
bool runAndKillAtWrite(const QString& port, int stopAt, const std::function<void(TForm1&)>& change) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        GuiFixture f;
        auto form = f.start(port);
        change(*form);
        writesBeforeStop = stopAt;
        stopPipe = fds[1];
        if (stopAt > 0) platform::setAtomicWriteHook(waitForKill);
        form->close();
        ::_exit(0);
    }
    ::close(fds[1]);
    char stopped = 0;
    const bool reached = ::read(fds[0], &stopped, 1) == 1;
    if (reached) ::kill(child, SIGKILL);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return reached && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

} // namespace

TEST(DamagedSettings, StartUpSurvivesNoiseTruncationAndUnreadableFiles) {
    TempConfigHome home;
    PtyPair pty;
    // A sound pair of files from a first run.
    startAndClose(pty.slavePath());
    const QByteArray app = readWholeFile(GuiFixture::valuesFile(home));
    const QByteArray port = readWholeFile(portValues(home));
    ASSERT_FALSE(app.isEmpty());
    ASSERT_FALSE(port.isEmpty());

    std::vector<std::pair<QByteArray, QByteArray>> damaged;
    for (int cut = 0; cut < port.size(); cut += 15)
        damaged.push_back({app, port.left(cut)});
    for (int cut = 0; cut < app.size(); cut += 11)
        damaged.push_back({app.left(cut), port});
    QRandomGenerator rng(42);
    for (int i = 0; i < 8; ++i) {
        QByteArray noise(static_cast<int>(rng.bounded(4000)), '\0');
        for (char& c : noise)
            c = static_cast<char>(rng.bounded(256));
        damaged.push_back({noise, noise});
    }
    damaged.push_back({QByteArray(1 << 20, '"'), QByteArray(1 << 20, '=')}); // one very long line
    for (const auto& [appBytes, portBytes] : damaged) {
        writeWholeFile(GuiFixture::valuesFile(home), appBytes);
        writeWholeFile(portValues(home), portBytes);
        startAndClose(pty.slavePath());
        if (testing::Test::HasFailure()) return;
    }

    // Unreadable: a folder where each file should be.
    QFile::remove(GuiFixture::valuesFile(home));
    QFile::remove(portValues(home));
    ASSERT_TRUE(QDir().mkpath(GuiFixture::valuesFile(home)));
    ASSERT_TRUE(QDir().mkpath(portValues(home)));
    startAndClose(pty.slavePath());
    RecordProperty("damaged_files", static_cast<int>(damaged.size()));
}

TEST(DamagedSettings, ACrashWhileWritingKeepsThePreviousSettings) {
    TempConfigHome home;
    PtyPair pty;
    startAndClose(pty.slavePath());
    const QByteArray app = readWholeFile(GuiFixture::valuesFile(home));
    const QByteArray port = readWholeFile(portValues(home));

    // The child changes the settings and dies inside the first write at shutdown, after the new file is
    // complete and before it replaces the old one.
    EXPECT_EXIT(
        {
            GuiFixture f;
            auto form = f.start(pty.slavePath());
            platform::setAtomicWriteHook(dieBeforeRename);
            form->close();
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(readWholeFile(GuiFixture::valuesFile(home)), app);
    EXPECT_EQ(readWholeFile(portValues(home)), port);
    // And the next run starts from them as before.
    EXPECT_TRUE(startAndClose(pty.slavePath()).isEmpty());
}

TEST(DamagedSettings, AKillAtEveryWriteOfASaveLeavesEachKeyAllOldOrAllNew) {
    TempConfigHome home;
    PtyPair pty;
    startAndClose(pty.slavePath());
    const QByteArray oldApp = readWholeFile(GuiFixture::valuesFile(home));
    const QByteArray oldPort = readWholeFile(portValues(home));
    // Every value of both keys changes: port settings and the application's choices.
    const auto change = [](TForm1& form) {
        TComPort& port = form.ComPort();
        port.SetBaudRate(br19200);
        port.SetDataBits(dbSeven);
        port.SetStopBits(sbTwoStopBits);
        form.menuItem("N001")->trigger(); // fill 00
    };

    // The reference: the same change saved without a stop, then put back.
    ASSERT_FALSE(runAndKillAtWrite(pty.slavePath(), 0, change));
    const QByteArray newApp = readWholeFile(GuiFixture::valuesFile(home));
    const QByteArray newPort = readWholeFile(portValues(home));
    ASSERT_NE(newApp, oldApp);
    ASSERT_NE(newPort, oldPort);

    int stops = 0;
    for (int n = 1; n < 100; ++n) {
        writeWholeFile(GuiFixture::valuesFile(home), oldApp);
        writeWholeFile(portValues(home), oldPort);
        const bool killed = runAndKillAtWrite(pty.slavePath(), n, change);
        const QByteArray app = readWholeFile(GuiFixture::valuesFile(home));
        const QByteArray port = readWholeFile(portValues(home));
        EXPECT_TRUE(app == oldApp || app == newApp) << "stop at write " << n << ":\n" << app.toStdString();
        EXPECT_TRUE(port == oldPort || port == newPort) << "stop at write " << n << ":\n"
                                                        << port.toStdString();
        if (!killed) {
            // The save had fewer writes than n: it completed.
            EXPECT_EQ(app, newApp);
            EXPECT_EQ(port, newPort);
            break;
        }
        ++stops;
    }
    // One replacement per key: the port's and the application's.
    EXPECT_EQ(stops, 2);
}

// A settings file that is a FIFO, a link to an endless device, a huge file or one with a huge number of
// values neither hangs the start-up nor exhausts memory: it reads as damaged (defaults), and a FIFO or a
// device is never replaced by the save at the end.
TEST(DamagedSettings, StartUpWithAStoreThatIsNoSettingsFile) {
    TempConfigHome home;
    PtyPair pty;
    const QString values = GuiFixture::valuesFile(home);
    const auto encoded = [](const QString& path) { return QFile::encodeName(path); };
    QByteArray manyValues;
    for (int i = 0; i < 200000; ++i)
        manyValues += "\"Value" + QByteArray::number(i) + "\"=\"x\"\n";
    struct Case {
        const char* what;
        std::function<void()> make;
        std::function<void()> check;
    };
    const std::vector<Case> cases = {
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(encoded(values).constData(), 0600), 0); },
         [&] { EXPECT_TRUE(QFileInfo(values).exists() && !QFileInfo(values).isFile()) << "still the FIFO"; }},
        {"a link to /dev/zero", [&] { ASSERT_EQ(::symlink("/dev/zero", encoded(values).constData()), 0); },
         [&] { EXPECT_EQ(QFileInfo(values).symLinkTarget(), QString("/dev/zero")); }},
        {"a 64 MB file",
         [&] {
             writeWholeFile(values, "\"ICtypeGroup.ItemIndex\"=\"1\"\n");
             ASSERT_EQ(::truncate(encoded(values).constData(), 64 << 20), 0);
         },
         [&] { EXPECT_TRUE(readWholeFile(values).contains("\"ICtypeGroup.ItemIndex\"=\"6\"")); }},
        {"200k values", [&] { writeWholeFile(values, manyValues); },
         [&] { EXPECT_TRUE(readWholeFile(values).contains("\"ICtypeGroup.ItemIndex\"=\"6\"")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir().mkpath(QFileInfo(values).path());
        QFile::remove(values);
        c.make();
        GuiFixture f;
        auto form = f.start(pty.slavePath());
        ASSERT_TRUE(form);
        EXPECT_EQ(form->session().chipIndex(), 6) << "the default chip";
        form->close();
        c.check();
    }
}
