// The last frame of an operation (the stop frame after a verification passed or failed) reaches the
// programmer before the command-line tool exits and before the window closes, run after run: closing the port
// must not drop what was written but has not left yet.
#include "../cli/cliprocess.h"
#include "../shell/guitestsupport.h"
#include "support/farend.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

namespace {

int rounds() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("CHIPWRIGHT_CLOSE_ROUNDS", &ok);
    return ok && n > 0 ? n : 200;
}

// 40 bytes: three blocks, the last one half filled with 0xFF.
QByteArray image() {
    QByteArray bytes;
    for (int i = 0; i < 40; ++i)
        bytes.append(char(i * 7 + 3));
    return bytes;
}

// The programmer's frame for block k of the image: its number, then 16 bytes.
QByteArray blockFrame(int k, bool corrupt = false) {
    QByteArray data = image().mid(k * 16, 16);
    data.append(QByteArray(16 - data.size(), char(0xFF)));
    if (corrupt) data[3] = char(~data[3]);
    return QByteArray(1, '\0') + char(k) + data;
}

// The far end's answers to a verification that starts after `before` bytes: the command and the first
// request (6 bytes), then each further request (3). A mismatch ends after block 0.
std::vector<ScriptedFarEnd::Reply> verifyScript(int before, bool mismatch) {
    if (mismatch) return {{before + 6, blockFrame(0, true)}};
    return {{before + 6, blockFrame(0)}, {before + 9, blockFrame(1)}, {before + 12, blockFrame(2)}};
}

// What the far end has got once the line has had time to carry everything (a lost frame never comes).
QByteArray settled(const ScriptedFarEnd& farEnd, int want) {
    for (int i = 0; i < 200 && farEnd.received().size() < want; ++i)
        QThread::msleep(10);
    return farEnd.received();
}

struct Ending {
    const char* name;
    bool mismatch;
    int verifyBytes; // what the host sends for the verification, its stop frame last
};
const Ending endings[] = {{"after a pass", false, 15}, {"after a mismatch", true, 9}};

} // namespace

TEST(LastFrame, ReachesTheProgrammerBeforeTheToolExits) {
    TempConfigHome home;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeWholeFile(dir.filePath("image.bin"), image());
    for (const Ending& e : endings) {
        int lost = 0;
        for (int round = 0; round < rounds(); ++round) {
            ScriptedFarEnd farEnd(verifyScript(0, e.mismatch));
            const CliResult r =
                runCli({"--port", farEnd.device(), "--chip", "0", "verify", "image.bin"}, dir.path());
            ASSERT_EQ(r.exitCode, e.mismatch ? 1 : 0) << r.err.toStdString();
            const QByteArray got = settled(farEnd, e.verifyBytes);
            if (got.size() != e.verifyBytes || got.right(3).at(0) != 0x10) ++lost;
        }
        EXPECT_EQ(lost, 0) << e.name << ": the stop frame was lost in " << lost << " of " << rounds()
                           << " runs";
    }
}

TEST(LastFrame, ReachesTheProgrammerBeforeTheWindowCloses) {
    TempConfigHome home;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("image.bin");
    writeWholeFile(file, image());
    constexpr int probe = 3;
    for (const Ending& e : endings) {
        int lost = 0;
        for (int round = 0; round < rounds(); ++round) {
            std::vector<ScriptedFarEnd::Reply> script{{probe, "\x02"}};
            for (const auto& reply : verifyScript(probe, e.mismatch))
                script.push_back(reply);
            ScriptedFarEnd farEnd(script);
            GuiFixture f;
            f.silentBeeps =
                true; // their time says nothing about the close, and 400 windows would wait for them
            auto form = f.start(farEnd.device());
            ASSERT_TRUE(form->portOpened());
            form->sequencer().setSleep([](int) {}); // the protocol's pauses say nothing about the close either
            std::vector<bool> ends;
            QObject::connect(&form->sequencer(), &Sequencer::operationEnded,
                             [&](bool ok) { ends.push_back(ok); });
            ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.empty(); }, 10000)) << "the probe was answered";
            ends.clear();
            f.openChoice = file;
            form->button("OpenFileBut")->click();
            form->button("VerifyBut")->click();
            ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.empty(); }, 10000));
            ASSERT_EQ(ends.front(), !e.mismatch);
            form->close(); // at once, as a user who saw the result does
            form.reset();
            const QByteArray got = settled(farEnd, probe + e.verifyBytes);
            if (got.size() != probe + e.verifyBytes || got.right(3).at(0) != 0x10) ++lost;
        }
        EXPECT_EQ(lost, 0) << e.name << ": the stop frame was lost in " << lost << " of " << rounds()
                           << " runs";
    }
}
