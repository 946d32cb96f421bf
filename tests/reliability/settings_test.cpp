// Damaged settings never stop start-up: the real main window starts with its application and port settings
// files replaced by noise, cut short at every position, made unreadable (a folder where the file should be)
// or unwritable, and comes up with a working port object and a usable window. A crash in the middle of
// writing the settings at shutdown leaves the previous settings whole.
#include "../shell/guitestsupport.h"
#include "platform/atomicfile.h"

#include <QDir>
#include <QRandomGenerator>

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
