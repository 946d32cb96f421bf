#include "fakelink.h"
#include "programmer/filewatch.h"
#include "support/fakeview.h"
#include "support/tempconfig.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void writeAt(const QString& path, const QByteArray& text, int secondsLater) {
    writeWholeFile(path, text);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    static const QDateTime base = QDateTime::currentDateTime().addSecs(-3600);
    ASSERT_TRUE(f.setFileTime(base.addSecs(secondsLater), QFileDevice::FileModificationTime));
}

struct Watched {
    QTemporaryDir dir;
    QString path = dir.filePath("app.hex");
    FakeView view;
    HostSession session{view};
    FileState state;
    FileWatch watch{session, state};
    FakeLink link;
    Sequencer seq{session, link};

    Watched() {
        seq.setSleep([](int) {});
        seq.setFileWatch([this] { return watch.reloadIfChanged(); });
        session.confirmChip(0);
        writeAt(path, ":0100000011EE\n:00000001FF\n", 0);
        EXPECT_TRUE(openFile(session, state, path));
    }
};

} // namespace

TEST(FileWatch, AChangedStampReloadsShowsAndStartsAutoWithTheWindowRaised) {
    Watched w;
    w.seq.CheckBox1Click(true);
    EXPECT_TRUE(w.seq.Timer3().enabled());
    w.seq.Timer3Timer();
    EXPECT_TRUE(w.link.sent.empty()) << "same stamp: nothing happens";

    writeAt(w.path, ":0200000022335A\n:00000001FF\n", 4);
    w.seq.Timer3Timer();
    EXPECT_EQ(w.view.hex.first().left(16), "000000  22 33 FF");
    EXPECT_EQ(w.session.buffer().dataEnd(), 1);
    // data end 1 is a file for the run
    EXPECT_EQ(w.link.takeSent(), (std::vector<Frame>{{0x00, 0x01, 0x00}}));
    EXPECT_TRUE(w.view.raised);
    EXPECT_TRUE(w.seq.windowRaised());
    w.seq.Timer3Timer();
    EXPECT_TRUE(w.link.takeSent().empty()) << "the new stamp was recorded";

    // The run's passed verification sends the window back.
    w.link.reply(w.seq, {0x06});
    w.link.reply(w.seq, {0x03});
    w.link.reply(w.seq, {0x07});
    w.link.takeSent();
    w.link.reply(w.seq, blockFrame(w.session.buffer().codeBlock(0)));
    EXPECT_FALSE(w.view.raised);
    EXPECT_FALSE(w.seq.windowRaised());
}

TEST(FileWatch, AnUnreadableFileIsRetriedAndReportedOnce) {
    Watched w;
    writeAt(w.path, ":01000000\n", 4); // cut short while being written
    EXPECT_FALSE(w.watch.reloadIfChanged());
    EXPECT_FALSE(w.watch.reloadIfChanged());
    ASSERT_EQ(w.view.logLines.size(), 1);
    EXPECT_TRUE(w.view.logLines[0].startsWith("Open File Error !  Please Choose Again !"));

    writeAt(w.path, ":0100000044BB\n:00000001FF\n", 4);
    EXPECT_TRUE(w.watch.reloadIfChanged()) << "the next tick finds the finished file";
    EXPECT_EQ(w.session.buffer().code()[0], 0x44);
}

TEST(FileWatch, AFileThatNoLongerFitsStartsNoRun) {
    Watched w;
    writeAt(w.path, ":01080000AA4D\n:00000001FF\n", 4); // one byte at 0800 on a 2K chip
    EXPECT_FALSE(w.watch.reloadIfChanged());
    EXPECT_EQ(w.view.logLines,
              QStringList{"Open File Error ! AT89C2051 Cant Be Program 2K Active Byte Only ! Please Choose Again !"});
    EXPECT_FALSE(w.watch.reloadIfChanged()) << "reported once, not on every tick";
}
