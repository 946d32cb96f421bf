#include "guitestsupport.h"
#include "handoverclient.h"

#include "platform/registry.h"
#include "shell/windowhandover.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

// The window as the desktop reaches it, on a real X server: a file on its command line, a second start of the
// program handing its file over, a stale socket, drops.

namespace {

// Counts the opens of a file (the port's device) from now on.
class OpenWatch {
public:
    explicit OpenWatch(const QString& path) : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        if (fd_ >= 0) ::inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_OPEN);
    }
    ~OpenWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int opens() {
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd_, buffer, sizeof buffer)) > 0)
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & IN_OPEN) ++opens_;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        return opens_;
    }

private:
    int fd_;
    int opens_ = 0;
};

const QByteArray imageA = ":0400000011223344CE\r\n:00000001FF\r\n";
const QByteArray imageB = ":03001000A5B6C7BB\r\n:00000001FF\r\n";
const char* const lineA = "000000  11 22 33 44 FF FF FF FF  FF FF FF FF FF FF FF FF";
const char* const lineB = "000010  A5 B6 C7 FF FF FF FF FF  FF FF FF FF FF FF FF FF";

QString program() {
    return qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright";
}

// A start of the real program, in folder, with the test's settings, runtime folder and display.
void startProgram(QProcess& process, const QString& folder, const QStringList& arguments) {
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program(), arguments);
}

// Runs the event loop until the process has ended (the window in this process answers it meanwhile).
bool waitForEnd(QProcess& process, int timeoutMs = 30000) {
    return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
}

// The settings a real start reads: the port, and a first run already done (no seeding).
void prepareSettings(const TempConfigHome& home, const QString& port) {
    writeWholeFile(home.registry() + "/HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE/Software/HexFileOpenSet/ComPort/values.reg",
                   "\"Port\"=\"" + port.toUtf8() + "\"\n");
    writeWholeFile(home.registry() + "/HKEY_CURRENT_USER" + QDir(qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR")).canonicalPath() +
                       "/Program.ini/HexFileOpen/values.reg",
                   "\"ComSeted\"=\"1\"\n");
}

QString socketPath() {
    QString error;
    return windowSocketPath(platform::registryRoot(), error);
}

bool showsImage(const TForm1& form, const char* line) {
    return form.hexLines().contains(QString::fromLatin1(line));
}

} // namespace

TEST(DesktopWindow, OpensTheCommandLineFileThenTakesTheFileOfASecondStartWithoutItTouchingThePort) {
    TempConfigHome home;
    TempRuntimeDir runtime;
    QTemporaryDir dir;
    writeWholeFile(dir.filePath("a.hex"), imageA);
    QDir(dir.path()).mkdir("sub");
    writeWholeFile(dir.filePath("sub/b.ihx"), imageB);

    GuiFixture f;
    WindowClaim claim = claimWindow(platform::registryRoot(), dir.filePath("a.hex"), 5000);
    ASSERT_EQ(claim.outcome, HandOver::NoWindow);
    ASSERT_TRUE(claim.listener) << claim.note.toStdString();
    auto form = f.start();
    form->show();
    openStartFiles(*form, dir.filePath("a.hex"), claim.listener.get());
    EXPECT_EQ(form->statusBarText(), "Open File:   " + dir.filePath("a.hex"));
    EXPECT_TRUE(showsImage(*form, lineA));

    // Started in another folder with a relative name, as a file manager or a shell does.
    OpenWatch port(f.pty.slavePath());
    ASSERT_TRUE(port.ok());
    QProcess second;
    startProgram(second, dir.filePath("sub"), {"b.ihx"});
    ASSERT_TRUE(waitForEnd(second)) << "the second start did not end";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return showsImage(*form, lineB); }, 10000));
    EXPECT_EQ(form->statusBarText(), "Open File:   " + dir.filePath("sub/b.ihx"));
    EXPECT_FALSE(showsImage(*form, lineA)) << "nothing of the first image is left";
    EXPECT_EQ(port.opens(), 0) << "the second start opened the port";
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(f.messages.contains("Open File Error !  Please Choose Again !"));
}

TEST(DesktopWindow, AMissingFileGetsOpensOwnMessageAndTheWindowStillTakesTheNext) {
    TempConfigHome home;
    TempRuntimeDir runtime;
    QTemporaryDir dir;
    writeWholeFile(dir.filePath("a.hex"), imageA);
    GuiFixture f;
    auto form = f.start();
    form->show();
    openStartFiles(*form, dir.filePath("gone.hex"), nullptr);
    EXPECT_TRUE(f.messages.contains("Open File Error !  Please Choose Again !")) << f.messages.join('|').toStdString();
    EXPECT_EQ(form->statusBarText(), "");
    EXPECT_TRUE(form->hexLines().isEmpty());

    form->openFromOutside(dir.filePath("a.hex"));
    EXPECT_TRUE(showsImage(*form, lineA));
}

// Open cannot be clicked while a modal box is up, so a file from outside waits for the box, then opens.
TEST(DesktopWindow, AFileHandedOverWhileAModalBoxIsUpOpensOnceTheBoxCloses) {
    TempConfigHome home;
    TempRuntimeDir runtime;
    QTemporaryDir dir;
    writeWholeFile(dir.filePath("b.hex"), imageB);
    GuiFixture f;
    WindowClaim claim = claimWindow(platform::registryRoot(), QString(), 5000);
    ASSERT_TRUE(claim.listener) << claim.note.toStdString();
    auto form = f.start();
    form->show();
    openStartFiles(*form, QString(), claim.listener.get());

    QMessageBox box(QMessageBox::NoIcon, "Chipwright", "Program OK", QMessageBox::Ok, form.get());
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000));

    QString error;
    EXPECT_EQ(handOverWhileServing(socketPath(), dir.filePath("b.hex"), error), HandOver::HandedOver)
        << error.toStdString();
    QTest::qWait(300);
    EXPECT_TRUE(form->hexLines().isEmpty()) << "opened behind the modal box";

    box.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return showsImage(*form, lineB); }, 5000));
}

namespace {

struct DropCase {
    const char* what;
    std::function<void(QMimeData&, const QTemporaryDir&)> fill;
    bool opens;
};

} // namespace

TEST(DesktopWindow, TakesADropOfOneLocalFileAndRefusesEverythingElse) {
    const DropCase cases[] = {
        {"one local file", [](QMimeData& m, const QTemporaryDir& d) { m.setUrls({QUrl::fromLocalFile(d.filePath("b.hex"))}); },
         true},
        {"two files",
         [](QMimeData& m, const QTemporaryDir& d) {
             m.setUrls({QUrl::fromLocalFile(d.filePath("b.hex")), QUrl::fromLocalFile(d.filePath("c.hex"))});
         },
         false},
        {"a web address", [](QMimeData& m, const QTemporaryDir&) { m.setUrls({QUrl("https://example.org/b.hex")}); },
         false},
        {"a folder", [](QMimeData& m, const QTemporaryDir& d) { m.setUrls({QUrl::fromLocalFile(d.path())}); }, false},
        {"text", [](QMimeData& m, const QTemporaryDir& d) { m.setText(d.filePath("b.hex")); }, false},
    };
    for (const DropCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempConfigHome home;
        QTemporaryDir dir;
        writeWholeFile(dir.filePath("b.hex"), imageB);
        writeWholeFile(dir.filePath("c.hex"), imageA);
        GuiFixture f;
        auto form = f.start();
        form->show();
        QMimeData data;
        c.fill(data, dir);
        const QPoint at = form->Memo1()->geometry().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &enter);
        EXPECT_EQ(enter.isAccepted(), c.opens);
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &drop);
        EXPECT_EQ(drop.isAccepted(), c.opens);
        EXPECT_EQ(showsImage(*form, lineB), c.opens);
        if (!c.opens) {
            EXPECT_EQ(form->statusBarText(), "");
            EXPECT_TRUE(form->hexLines().isEmpty());
        }
    }
}

// The log under the pointer takes no drop of its own, so a file dropped there reaches the window.
TEST(DesktopWindow, NothingInsideTheWindowTakesADropBeforeIt) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    EXPECT_TRUE(form->acceptDrops());
    // The secondary windows (the hex text window edits text, drops included) are not inside it.
    for (QWidget* child : form->findChildren<QWidget*>())
        if (child->window() == form.get()) {
            EXPECT_FALSE(child->acceptDrops()) << child->objectName().toStdString();
        }
}

// The real program on a pseudo-terminal for its port, with settings and a runtime folder of its own.
class DesktopProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        prepareSettings(home, pty.slavePath());
        writeWholeFile(dir.filePath("a.hex"), imageA);
        writeWholeFile(dir.filePath("b.hex"), imageB);
    }

    // Starts the window and waits until it has its port (its start-up probe arrived) and listens.
    void startWindow(QProcess& window, const QStringList& arguments) {
        startProgram(window, dir.path(), arguments);
        ASSERT_TRUE(window.waitForStarted(10000));
        ASSERT_EQ(pty.receive(3, 30000), QByteArray("\xFA\x00\x00", 3));
        ASSERT_TRUE(QTest::qWaitFor([] { return QFile::exists(socketPath()); }, 10000));
    }

    TempConfigHome home;
    TempRuntimeDir runtime;
    PtyPair pty;
    QTemporaryDir dir;
};

// Twice: the second start reaches the first and ends; the first goes on alone with the port.
TEST_F(DesktopProgram, ASecondStartEndsAtOnceAndLeavesThePortToTheFirst) {
    QProcess first;
    ASSERT_NO_FATAL_FAILURE(startWindow(first, {"a.hex"}));

    OpenWatch port(pty.slavePath());
    ASSERT_TRUE(port.ok());
    QProcess second;
    startProgram(second, dir.path(), {"b.hex"});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(port.opens(), 0) << "the second start opened the port";
    EXPECT_EQ(first.state(), QProcess::Running);

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(socketPath())) << "the window took its socket with it";
}

TEST_F(DesktopProgram, AStaleSocketLeftByAKilledWindowIsReplaced) {
    QProcess killed;
    ASSERT_NO_FATAL_FAILURE(startWindow(killed, {}));
    ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(socketPath())) << "a killed window leaves its socket behind";

    // The next start finds nobody behind the socket: it is the window, and takes the port.
    OpenWatch port(pty.slavePath());
    ASSERT_TRUE(port.ok());
    QProcess window;
    startProgram(window, dir.path(), {"a.hex"});
    ASSERT_TRUE(window.waitForStarted(10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return port.opens() > 0; }, 30000)) << "the new window did not open the port";
    EXPECT_EQ(window.state(), QProcess::Running);

    // And a start after it reaches it.
    QProcess third;
    startProgram(third, dir.path(), {"b.hex"});
    ASSERT_TRUE(third.waitForFinished(30000));
    EXPECT_EQ(third.exitCode(), 0);
    EXPECT_EQ(window.state(), QProcess::Running);
    window.terminate();
    ASSERT_TRUE(window.waitForFinished(30000));
    EXPECT_EQ(window.exitCode(), 0);
}
