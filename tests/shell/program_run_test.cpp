#include "shell/appsettingsstore.h"
#include "support/tempconfig.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

// Runs the real program and stops it the way a terminal or a session does: the settings are written at the path
// the settings root and the executable's folder give.
TEST(ProgramRun, StoppedWithSigtermItRunsItsShutdownAndLeavesTheSettingsFile) {
    TempConfigHome home;
    const QString buildDir = qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR");
    ASSERT_FALSE(buildDir.isEmpty());
    const QString exe = buildDir + "/chipwright";
    QString folder = QDir(buildDir).canonicalPath();
    const QString store = home.registry() + "/HKEY_CURRENT_USER" + folder + "/Program.ini";

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", home.path());
    program.setProcessEnvironment(env);
    program.start(exe, {});
    ASSERT_TRUE(program.waitForStarted(10000));

    // The store's key is created while the main window starts, after the signal handler is in place.
    QDeadlineTimer deadline(30000);
    while (!QDir(store).exists() && !deadline.hasExpired() && program.state() == QProcess::Running)
        QThread::msleep(20);
    ASSERT_TRUE(QDir(store).exists()) << program.readAllStandardError().toStdString();
    QThread::msleep(200); // let the event loop start; a signal before it only waits in the pipe
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);

    const QByteArray values = readWholeFile(store + "/HexFileOpen/values.reg");
    EXPECT_TRUE(values.contains("\"ComSeted\"=\"1\"")) << values.toStdString();
    EXPECT_TRUE(values.contains("\"ICtypeGroup.ItemIndex\"=\"6\"")) << values.toStdString();
}
