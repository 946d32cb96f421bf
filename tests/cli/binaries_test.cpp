// Every executable answers --version and --help, on a machine without a display too.
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {

TEST(Binaries, EachAnswersVersionAndHelpWithoutADisplay) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    struct Case {
        const char* program;
        const char* option;
        QByteArray startsWith;
        const char* mentions;
    };
    const std::vector<Case> cases = {
        {"chipwright", "--version", "chipwright " CHIPWRIGHT_VERSION "\n", ""},
        {"chipwright", "--help", "Usage: chipwright ", "--trace FILE"},
        {"chipwright", "-h", "Usage: chipwright ", "--version"},
        {"chipwright-cli", "--version", "chipwright-cli " CHIPWRIGHT_VERSION "\n", ""},
        {"chipwright-cli", "--help", "Usage: chipwright-cli ", "--version"},
        {"chipwright-sim", "--version", "chipwright-sim " CHIPWRIGHT_VERSION "\n", ""},
        {"chipwright-sim", "--help", "Usage: chipwright-sim ", "--version"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.option);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/" + c.program, {c.option});
        ASSERT_TRUE(p.waitForFinished(30000));
        const QByteArray out = p.readAllStandardOutput();
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        EXPECT_TRUE(out.startsWith(c.startsWith)) << out.toStdString();
        EXPECT_TRUE(out.contains(c.mentions)) << out.toStdString();
    }
}

} // namespace
