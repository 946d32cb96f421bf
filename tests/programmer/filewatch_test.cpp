#include "fakelink.h"
#include "programmer/filewatch.h"
#include "support/fakeview.h"
#include "support/tempconfig.h"

#include <QDateTime>

#include <algorithm>
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
        seq.setFileWatch([this](bool mayReload) { return watch.reloadIfChanged(mayReload); });
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
    EXPECT_TRUE(w.link.sent.empty()) << "a changed file waits one tick to show that it has settled";
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
    writeAt(w.path, ":01000000\n", 4); // a broken file that stays so
    for (int tick = 0; tick < 4; ++tick)
        EXPECT_FALSE(w.watch.reloadIfChanged());
    ASSERT_EQ(w.view.logLines.size(), 1);
    EXPECT_TRUE(w.view.logLines[0].startsWith("Open File Error !  Please Choose Again !"));

    writeAt(w.path, ":0100000044BB\n:00000001FF\n", 4);
    EXPECT_FALSE(w.watch.reloadIfChanged()) << "changed since the last tick: not settled";
    EXPECT_TRUE(w.watch.reloadIfChanged()) << "the next tick finds the finished file";
    EXPECT_EQ(w.session.buffer().code()[0], 0x44);
}

TEST(FileWatch, AFileThatNoLongerFitsStartsNoRun) {
    Watched w;
    writeAt(w.path, ":01080000AA4D\n:00000001FF\n", 4); // one byte at 0800 on a 2K chip
    EXPECT_FALSE(w.watch.reloadIfChanged());
    EXPECT_FALSE(w.watch.reloadIfChanged());
    EXPECT_EQ(w.view.logLines,
              QStringList{"Open File Error ! AT89C2051 Cant Be Program 2K Active Byte Only ! Please Choose Again !"});
    EXPECT_FALSE(w.watch.reloadIfChanged()) << "reported once, not on every tick";
}

// A compiler or an editor writes the file in pieces, 200 ms apart, so every 600 ms tick sees a new piece: no
// run starts before the last piece, and the run then programs the whole file.
TEST(FileWatch, AFileWrittenInPiecesIsReloadedOnlyWhenWhole) {
    QByteArray hexText;
    for (int line = 0; line < 12; ++line) {
        QByteArray record = ":10" + QByteArray::number(line * 16, 16).rightJustified(4, '0').toUpper() + "00";
        int sum = 0x10 + line * 16;
        for (int i = 0; i < 16; ++i) {
            const int b = (line * 16 + i) * 5 & 0xFF;
            record += QByteArray::number(b, 16).rightJustified(2, '0').toUpper();
            sum += b;
        }
        hexText += record +
                   QByteArray::number((0x100 - (sum & 0xFF)) & 0xFF, 16).rightJustified(2, '0').toUpper() +
                   "\r\n";
    }
    hexText += ":00000001FF\r\n";
    QByteArray binary;
    for (int i = 0; i < 1500; ++i)
        binary += char(i * 3 + 1);

    for (const auto& [name, whole] :
         {std::pair{QString("app.hex"), hexText}, std::pair{QString("app.bin"), binary}}) {
        SCOPED_TRACE(name.toStdString());
        Watched w;
        const QString path = w.dir.filePath(name);
        writeAt(path, QByteArray(), 0);
        openFile(w.session, w.state, path); // an empty file as the compiler starts it
        w.view.logLines.clear();

        // Pieces at 0, 200, 400 ... ms; ticks at 600, 1200 ... ms, 2 s later in stamp time than the Open.
        const int pieces = 9;
        const qsizetype pieceSize = (whole.size() + pieces - 1) / pieces;
        int tickDue = 600;
        for (int k = 0, ms = 0; k < pieces; ++k, ms += 200) {
            writeAt(path, whole.left(pieceSize * (k + 1)), 2);
            if (ms + 200 > tickDue || k == pieces - 1) {
                w.seq.Timer3Timer();
                tickDue += 600;
                EXPECT_TRUE(w.link.sent.empty()) << "a run started after piece " << k + 1;
            }
        }
        w.seq.Timer3Timer(); // the whole file, unchanged for one tick
        ASSERT_EQ(w.link.takeSent(), (std::vector<Frame>{{0x00, 0x01, 0x00}}));
        const int size = name.endsWith(".bin") ? static_cast<int>(binary.size()) : 12 * 16;
        const QByteArray expected = name.endsWith(".bin") ? binary : [&] {
            QByteArray b;
            for (int i = 0; i < 12 * 16; ++i)
                b += char(i * 5 & 0xFF);
            return b;
        }();
        ASSERT_GE(w.session.buffer().code().size(), static_cast<size_t>(size));
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(w.session.buffer().code().data()), size),
                  expected);
        EXPECT_EQ(w.view.logLines, QStringList{"Erasing Now ......Please Wait !"});
    }
}

// A change while a run is under way starts no second run that would interleave with it; the change is taken
// at the first tick after the run's end, and exactly one more run follows.
TEST(FileWatch, AChangeDuringARunStartsExactlyOneRunAfterIt) {
    Watched w;
    w.seq.CheckBox1Click(true);
    writeAt(w.path, ":0200000022335A\n:00000001FF\n", 4);
    w.seq.Timer3Timer();
    w.seq.Timer3Timer();
    ASSERT_EQ(w.link.takeSent(), (std::vector<Frame>{{0x00, 0x01, 0x00}}));
    ASSERT_TRUE(w.seq.operationUnderWay());

    // The file changes again while the run programs, verifies and waits for its Lock reply.
    writeAt(w.path, ":02000000445565\n:00000001FF\n", 8);
    w.link.reply(w.seq, {0x06});
    w.seq.Timer3Timer();
    w.link.reply(w.seq, {0x03});
    w.link.reply(w.seq, {0x07});
    w.seq.Timer3Timer();
    w.link.takeSent();
    w.link.reply(w.seq, blockFrame(w.session.buffer().codeBlock(0)));
    w.seq.Timer3Timer();
    const std::vector<Frame> sent = w.link.takeSent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), (Frame{0x00, 0x06, 0x00})) << "the Lock";
    EXPECT_EQ(std::count(sent.begin(), sent.end(), Frame{0x00, 0x01, 0x00}), 0) << "no second Auto";
    EXPECT_EQ(w.session.buffer().code()[0], 0x22) << "the running image is not replaced under the run";

    w.link.reply(w.seq, {0x09});
    EXPECT_FALSE(w.seq.operationUnderWay());
    w.seq.Timer3Timer(); // settled during the run: taken at once
    EXPECT_EQ(w.link.takeSent(), (std::vector<Frame>{{0x00, 0x01, 0x00}}));
    EXPECT_EQ(w.session.buffer().code()[0], 0x44);
    w.seq.Timer3Timer();
    EXPECT_TRUE(w.link.takeSent().empty()) << "exactly one more run";
    const QStringList expectedLog = {"Erasing Now ......Please Wait !",
                                     "Programming Now ...... Please Wait !",
                                     "Program Succssed!",
                                     "Verifying Now ...... Please Wait !",
                                     "Verify Succssed !",
                                     "Lock Succssed !",
                                     "Erasing Now ......Please Wait !"};
    EXPECT_EQ(w.view.logLines, expectedLog);
}

TEST(FileWatch, AReplyThatNeverComesDoesNotHoldTheWatchForEver) {
    Watched w;
    writeAt(w.path, ":0200000022335A\n:00000001FF\n", 4);
    w.seq.Timer3Timer();
    w.seq.Timer3Timer();
    w.link.reply(w.seq, {0x06});
    w.link.reply(w.seq, {0x03});
    w.link.reply(w.seq, {0x07});
    w.link.reply(w.seq, blockFrame(w.session.buffer().codeBlock(0)));
    w.link.takeSent();
    ASSERT_TRUE(w.seq.operationUnderWay()) << "waiting for the Lock's reply, which no watchdog covers";

    writeAt(w.path, ":02000000445565\n:00000001FF\n", 8);
    for (int tick = 1; tick < 5; ++tick) {
        w.seq.Timer3Timer();
        EXPECT_TRUE(w.link.takeSent().empty()) << "tick " << tick;
    }
    w.seq.Timer3Timer(); // 3 s without a reply: the Lock is given up for the watch
    EXPECT_EQ(w.link.takeSent(), (std::vector<Frame>{{0x00, 0x01, 0x00}}));
}

TEST(FileWatch, AFileThatWentAwaySaysSoOnce) {
    Watched w;
    ASSERT_TRUE(QFile::remove(w.path));
    for (int tick = 0; tick < 4; ++tick)
        EXPECT_FALSE(w.watch.reloadIfChanged());
    EXPECT_EQ(w.view.logLines,
              QStringList{"Open File Error !  Please Choose Again !  No such file or directory"});
}
