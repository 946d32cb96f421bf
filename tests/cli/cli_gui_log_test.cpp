// The tool's standard output against the window's message log for the same operation: the log is what the
// sequencer tells its HostView, so the same sequence run in-process with a recording view gives the lines the
// window shows.
#include "cliprocess.h"
#include "support/fakeview.h"
#include "support/simrunner.h"
#include "support/tempconfig.h"

#include "buffer/hexloader.h"
#include "programmer/comportlink.h"
#include "programmer/hostsession.h"
#include "programmer/sequencer.h"
#include "serial/comport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray image() {
    QByteArray bytes;
    for (int i = 0; i < 100; ++i)
        bytes.append(char(0xA0 ^ i));
    return bytes;
}

// The window's log of one operation on chip 0 with image loaded, against the simulator at device.
QStringList windowLog(const QString& device, const QString& imageFile,
                      const std::function<void(Sequencer&)>& start) {
    FakeView view;
    HostSession session(view);
    session.setChipIndex(0);
    session.setLockLevel(1);
    session.showStartupChip();
    EXPECT_TRUE(loadImage(session.buffer(), imageFile, 2048, FileKind::Binary).loaded());
    TComPort port;
    port.SetPort(device);
    ComPortLink link(port);
    Sequencer sequencer(session, link);
    bool ended = false;
    QObject::connect(&sequencer, &Sequencer::operationEnded, [&] { ended = true; });
    port.OnRxChar = [&](TCustomComPort*, int count) { sequencer.ComPortRxChar(count); };
    port.Connect();
    start(sequencer);
    const QDeadlineTimer deadline(30000);
    while (!ended && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(ended);
    port.OnRxChar = nullptr;
    port.Disconnect();
    return view.logLines;
}

TEST(CliOutput, EqualsTheWindowsLogForTheSameOperation) {
    TempConfigHome home;
    QTemporaryDir dir;
    const QString file = dir.filePath("image.bin");
    writeWholeFile(file, image());
    const QByteArray programmed = image() + QByteArray(2048 - 100, char(0xFF));
    struct Case {
        const char* command;
        QStringList simOptions;
        std::function<void(Sequencer&)> start;
    };
    const std::vector<Case> cases = {
        {"program", {}, [](Sequencer& s) { s.ProgramButClick(); }},
        {"verify", {"--corrupt", "0x44"}, [](Sequencer& s) { s.VerifyButClick(); }},
        {"auto", {}, [](Sequencer& s) { s.AutoProButClick(); }},
        {"auto", {"--fail-after-block", "2"}, [](Sequencer& s) { s.AutoProButClick(); }},
        {"erase", {"--silence-after", "0"}, [](Sequencer& s) { s.EraseButClick(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(c.command, c.simOptions.join(' ')).toStdString());
        QStringList window;
        {
            SimRunner sim(c.simOptions, {{0, programmed}});
            ASSERT_TRUE(sim.ok());
            window = windowLog(sim.device(), file, c.start);
        }
        SimRunner sim(c.simOptions, {{0, programmed}});
        ASSERT_TRUE(sim.ok());
        QStringList arguments = {"--port", sim.device(), "--chip", "0", "--lock", "1", c.command};
        if (QLatin1String(c.command) != QLatin1String("erase")) arguments << file;
        const CliResult cli = runCli(arguments);
        EXPECT_FALSE(window.isEmpty());
        EXPECT_EQ(cli.out, logText(window)) << cli.err.toStdString();
    }
}

} // namespace
