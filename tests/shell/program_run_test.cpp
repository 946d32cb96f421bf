#include "shell/appsettingsstore.h"
#include "support/ptypair.h"
#include "support/tempconfig.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

// Runs the real program on a pseudo-terminal and stops it the way a terminal or a session does: it probes the
// programmer at start-up, and its settings are written at the path the settings root and the executable's folder
// give.
TEST(ProgramRun, ProbesAtStartUpAndWhenStoppedWithSigtermLeavesTheSettingsFiles) {
    TempConfigHome home;
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const QString portKey = home.registry() + "/HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE/Software/HexFileOpenSet/ComPort";
    writeWholeFile(portKey + "/values.reg", "\"Port\"=\"" + pty.slavePath().toUtf8() + "\"\n");
    const QString buildDir = qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR");
    ASSERT_FALSE(buildDir.isEmpty());
    const QString exe = buildDir + "/chipwright";
    QString folder = QDir(buildDir).canonicalPath();
    const QString store = home.registry() + "/HKEY_CURRENT_USER" + folder + "/Program.ini";
    writeWholeFile(store + "/HexFileOpen/values.reg", "\"ComSeted\"=\"1\"\n");

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", home.path());
    program.setProcessEnvironment(env);
    program.start(exe, {});
    ASSERT_TRUE(program.waitForStarted(10000));

    // The probe comes 30 ms after the port opened, while the main window starts; the signal handler is in place
    // by then.
    EXPECT_EQ(pty.receive(3, 30000), QByteArray("\xFA\x00\x00", 3)) << program.readAllStandardError().toStdString();
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);

    const QByteArray values = readWholeFile(store + "/HexFileOpen/values.reg");
    EXPECT_TRUE(values.contains("\"ComSeted\"=\"1\"")) << values.toStdString();
    EXPECT_TRUE(values.contains("\"ICtypeGroup.ItemIndex\"=\"6\"")) << values.toStdString();
    // The port's settings were saved back in their text forms.
    const QByteArray port = readWholeFile(portKey + "/values.reg");
    EXPECT_TRUE(port.contains("\"Port\"=\"" + pty.slavePath().toUtf8() + "\"")) << port.toStdString();
    EXPECT_TRUE(port.contains("\"BaudRate\"=\"9600\"")) << port.toStdString();
}

// The port fails to open, so the start-up shows its message box and waits for the user. A SIGTERM then ends
// the program through its orderly close (settings saved) instead of only closing the box.
TEST(ProgramRun, SigtermDuringTheStartUpMessageBoxEndsTheProgramInOrder) {
    TempConfigHome home;
    QTemporaryDir dir;
    // A regular file as the port: it opens, but it is no terminal, so the port fails right after the open.
    const QString notAPort = dir.filePath("not-a-port");
    writeWholeFile(notAPort, "");
    const QString portKey =
        home.registry() + "/HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE/Software/HexFileOpenSet/ComPort";
    writeWholeFile(portKey + "/values.reg", "\"Port\"=\"" + notAPort.toUtf8() + "\"\n");
    const QString buildDir = qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR");
    const QString store = home.registry() + "/HKEY_CURRENT_USER" + QDir(buildDir).canonicalPath() +
                          "/Program.ini/HexFileOpen/values.reg";
    writeWholeFile(store, "\"ComSeted\"=\"1\"\n");

    // The moment the program opens the port, its message box is next.
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(notAPort).constData(), IN_OPEN), 0);

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", home.path());
    program.setProcessEnvironment(env);
    program.start(buildDir + "/chipwright", {});
    ASSERT_TRUE(program.waitForStarted(10000));
    pollfd waitOpen{watch, POLLIN, 0};
    ASSERT_EQ(::poll(&waitOpen, 1, 30000), 1) << "the program never opened its port";
    ::close(watch);
    QThread::msleep(300); // into the box's event loop; a signal before it is taken there all the same

    program.terminate();
    ASSERT_TRUE(program.waitForFinished(30000)) << "still running after the first SIGTERM";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    const QByteArray values = readWholeFile(store);
    EXPECT_TRUE(values.contains("\"ICtypeGroup.ItemIndex\"=\"6\""))
        << "the close saved the settings: " << values.toStdString();
}
