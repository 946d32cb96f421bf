#include "../shell/guitestsupport.h"
#include "buffer/dumpline.h"
#include "programmer/chipcatalogue.h"
#include "support/simrunner.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QByteArray randomImage(int size, quint32 seed) {
    QRandomGenerator rng(seed);
    QByteArray image(size, '\0');
    for (char& c : image) c = static_cast<char>(rng.bounded(256));
    return image;
}

// An Intel HEX file of image, 16 bytes a record.
QByteArray hexFile(const QByteArray& image) {
    QByteArray text;
    for (int a = 0; a < image.size(); a += 16) {
        const int n = std::min<int>(16, static_cast<int>(image.size()) - a);
        QByteArray record;
        record.append(static_cast<char>(n)).append(static_cast<char>(a >> 8)).append(static_cast<char>(a)).append('\0');
        record.append(image.mid(a, n));
        int sum = 0;
        for (char c : record) sum += static_cast<quint8>(c);
        record.append(static_cast<char>(-sum));
        text += ':' + record.toHex().toUpper() + "\r\n";
    }
    return text + ":00000001FF\r\n";
}

// A main window whose port is the simulator's device.
struct SimHost {
    TempConfigHome home;
    QTemporaryDir dir;
    SimRunner sim;
    GuiFixture f;
    std::unique_ptr<TForm1> form;
    std::vector<bool> ends;

    explicit SimHost(const QStringList& options = {}, const std::map<int, QByteArray>& images = {})
        : sim(QStringList{"--verbose"} + options, images) {
        EXPECT_TRUE(sim.ok());
        form = f.start(sim.device());
        EXPECT_TRUE(form->portOpened());
        QObject::connect(&form->sequencer(), &Sequencer::operationEnded, [this](bool ok) { ends.push_back(ok); });
        // The start-up probe is answered, and the ready check has looked at it.
        EXPECT_TRUE(waitForEnd(10000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !form->sequencer().Timer2().enabled(); }, 10000));
        EXPECT_EQ(log(), QStringList{"Programmer is Ready !"});
        form->Memo1()->clear();
    }

    void chooseChip(int chip) {
        form->Form2()->ICtypeGroup()->setItemIndex(chip);
        form->Form2()->Button1Click();
    }
    QString openImage(const QByteArray& image, const QString& name = "image.hex") {
        const QString path = dir.filePath(name);
        writeWholeFile(path, hexFile(image));
        f.openChoice = path;
        form->button("OpenFileBut")->click();
        return path;
    }
    // Runs the event loop until the operation has ended; its success. (An event loop, not a polling wait: each
    // reply is handled as it comes, as in the program.)
    bool waitForEnd(int timeoutMs = 60000) {
        if (ends.empty()) {
            QSignalSpy spy(&form->sequencer(), &Sequencer::operationEnded);
            spy.wait(timeoutMs);
        }
        const bool ended = !ends.empty();
        EXPECT_TRUE(ended) << "the operation did not end; the simulator saw:\n"
                           << sim.errorOutput().right(3000).toStdString();
        if (!ended) return false;
        const bool ok = ends.front();
        ends.clear();
        return ok;
    }
    QStringList log() const { return form->Memo1()->toPlainText().split('\n'); }
};

} // namespace

TEST(WithTheSimulator, AutoProgramsVerifiesAndLocksTheFileIntoTheChip) {
    SimHost h;
    h.chooseChip(4); // AT89C55, 20K
    h.form->LockBitForm()->LockBit()->setItemIndex(2);
    h.form->LockBitForm()->Button1Click(); // sends a Lock at once, as the dialog does
    ASSERT_TRUE(h.waitForEnd());
    EXPECT_EQ(h.log(), QStringList{"Lock Succssed !"});
    h.form->Memo1()->clear();

    const QByteArray image = randomImage(20480, 1);
    h.openImage(image);
    h.form->menuItem("N11")->trigger(); // 工具 > 自動
    ASSERT_TRUE(h.waitForEnd());
    EXPECT_EQ(h.log(), QStringList({"Erasing Now ......Please Wait !", "Programming Now ...... Please Wait !",
                                    "Program Succssed!", "Verifying Now ...... Please Wait !", "Verify Succssed !",
                                    "Lock Succssed !"}));
    EXPECT_EQ(h.form->Label1()->text(), "OK   ");
    EXPECT_EQ(h.sim.memory(4), image);
    EXPECT_EQ(h.sim.lockLevel(4), 2);
}

TEST(WithTheSimulator, ReadingEveryChipGivesItsMemoryAndSavesIt) {
    std::map<int, QByteArray> images;
    for (int chip = 0; chip < chipCount; ++chip)
        images[chip] = randomImage(chipCatalogue[static_cast<size_t>(chip)].capacity, 100 + chip);
    SimHost h({}, images);
    for (int chip = 0; chip < chipCount; ++chip) {
        h.chooseChip(chip);
        h.form->button("ReadBut")->click();
        ASSERT_TRUE(h.waitForEnd()) << chip;
        const QByteArray& image = images[chip];
        const auto& read = h.form->session().buffer().readBuffer();
        ASSERT_EQ(QByteArray(reinterpret_cast<const char*>(read.data()), static_cast<qsizetype>(read.size())), image)
            << chipCatalogue[static_cast<size_t>(chip)].type;
        EXPECT_EQ(h.form->hexLines(),
                  dumpLines(std::span(reinterpret_cast<const quint8*>(image.constData()), image.size()),
                            static_cast<int>(image.size())));
        EXPECT_EQ(h.log().last(), "Read Finish !");
        EXPECT_EQ(h.form->Label1()->text(), "Read Finish");

        h.f.saveChoice = {h.dir.filePath(QStringLiteral("chip%1").arg(chip)), SaveFormat::Binary};
        h.form->button("SaveFileBut")->click();
        EXPECT_EQ(readWholeFile(h.dir.filePath(QStringLiteral("chip%1.bin").arg(chip))), image);
    }
}

TEST(WithTheSimulator, ASilentProgrammerFiresTheWatchdogAndTheNextOperationWorks) {
    // The simulator stops answering after the probe and the first command.
    SimHost h({"--silence-after", "6"});
    h.chooseChip(0);
    h.form->button("EraseBut")->click();
    EXPECT_TRUE(h.waitForEnd()); // the erase itself is answered: silence starts after byte 6
    h.form->button("ReadBut")->click();
    ASSERT_FALSE(h.waitForEnd());
    EXPECT_TRUE(h.form->Memo1()->toPlainText().endsWith(
        "Error !  Please Check The Connection Whether OK !\nOr Check  Whether Suited Of The MCU Type  !\n"));
    EXPECT_EQ(h.form->Label1()->text(), "E r r o r !   ");
    EXPECT_FALSE(h.form->sequencer().DOGTimer4().enabled());
}

TEST(WithTheSimulator, AProgramFailureAndAVerifyMismatchAreReported) {
    {
        SimHost h({"--fail-program"});
        h.chooseChip(0);
        h.openImage(randomImage(2048, 7));
        h.form->button("ProgramBut")->click();
        EXPECT_FALSE(h.waitForEnd());
        EXPECT_EQ(h.log().last(), "Program Fail !  Please Check!");
        EXPECT_EQ(h.form->Label1()->text(), "E r r o r !   ");
    }
    {
        const QByteArray image = randomImage(2048, 8);
        SimHost h({"--corrupt", "0x123"}, {{0, image}});
        h.chooseChip(0);
        h.openImage(image);
        h.form->button("VerifyBut")->click();
        EXPECT_FALSE(h.waitForEnd());
        EXPECT_EQ(h.log().mid(h.log().size() - 2),
                  QStringList({"Verify Fail !", QStringLiteral(" Fail ID :000123H    Fail Data :%1H")
                                                    .arg(QString::number(static_cast<quint8>(image[0x123]), 16)
                                                             .rightJustified(2, '0')
                                                             .toUpper())}));
        EXPECT_EQ(h.form->Label1()->text(), "Verify Error !");
    }
}

TEST(WithTheSimulator, TheIspSwitchRerunsAutoWhenTheFileChanges) {
    SimHost h;
    h.chooseChip(0);
    const QByteArray first = randomImage(2048, 21);
    const QString path = h.openImage(first);
    h.form->CheckBox1()->click();
    ASSERT_TRUE(h.form->CheckBox1()->isChecked());
    EXPECT_TRUE(h.form->sequencer().Timer3().enabled());

    // Raising and lowering change the stacking only: the native window stays the same one, so the hex window
    // that belongs to it keeps showing what it holds.
    h.form->show();
    const WId before = h.form->winId();
    // Hiding and re-showing (what re-creating the window does) unmaps it: the window flashes.
    struct Watcher : QObject {
        int hidden = 0;
        int idChanges = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Hide) ++hidden;
            if (e->type() == QEvent::WinIdChange) ++idChanges;
            return false;
        }
    } watcher;
    h.form->installEventFilter(&watcher);

    const QByteArray second = randomImage(2048, 22);
    writeWholeFile(path, hexFile(second));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(10), QFileDevice::FileModificationTime));
    file.close();

    ASSERT_TRUE(
        QTest::qWaitFor([&] { return h.form->sequencer().windowRaised() || !h.ends.empty(); }, 30000));
    EXPECT_EQ(h.form->winId(), before) << "during the run";
    EXPECT_TRUE(h.form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint) ||
                !h.form->sequencer().windowRaised());
    ASSERT_TRUE(h.waitForEnd());
    EXPECT_EQ(h.log().last(), "Lock Succssed !");
    EXPECT_EQ(h.sim.memory(0), second);
    EXPECT_FALSE(h.form->sequencer().windowRaised()) << "lowered again after the passed verification";
    EXPECT_EQ(h.form->winId(), before) << "after the run";
    EXPECT_EQ(watcher.hidden, 0) << "the window was hidden during the run";
    EXPECT_EQ(watcher.idChanges, 0);
    h.form->removeEventFilter(&watcher);
    EXPECT_FALSE(h.form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    const auto* bytes = reinterpret_cast<const quint8*>(second.constData());
    EXPECT_EQ(h.form->hexLines(), dumpLines(std::span<const quint8>(bytes, second.size()), second.size()));
}

// The watch's ticks are given by hand here, between the writes, so that the order of writes and ticks is the
// one a 600 ms tick sees with pieces 200 ms apart, however loaded the machine is.
TEST(WithTheSimulator, TheIspSwitchProgramsAFileWrittenInPiecesOnlyWhenWhole) {
    SimHost h;
    h.chooseChip(0);
    const auto tick = [&] { h.form->sequencer().Timer3Timer(); };
    // A later stamp than the Open's, whatever second the pieces are written in.
    const auto writeLater = [](const QString& path, const QByteArray& bytes, int seconds) {
        writeWholeFile(path, bytes);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(seconds),
                                     QFileDevice::FileModificationTime));
    };
    quint32 seed = 40;
    for (const QString name : {"pieces.hex", "pieces.bin"}) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray image = randomImage(2048, ++seed);
        const QByteArray whole = name.endsWith(".hex") ? hexFile(image) : image;
        const QString path = h.dir.filePath(name);
        writeWholeFile(path, QByteArray());
        h.f.openChoice = path;
        h.form->button("OpenFileBut")->click();
        h.form->Memo1()->clear();

        const int pieces = 6;
        const qsizetype pieceSize = (whole.size() + pieces - 1) / pieces;
        for (int k = 1; k <= pieces; ++k) {
            writeLater(path, whole.left(pieceSize * k), 10);
            tick();
            EXPECT_FALSE(h.form->sequencer().operationUnderWay()) << "a run started after piece " << k;
        }
        tick(); // unchanged for a whole tick: settled
        EXPECT_TRUE(h.form->sequencer().operationUnderWay());
        ASSERT_TRUE(h.waitForEnd());
        EXPECT_EQ(h.log().last(), "Lock Succssed !");
        EXPECT_EQ(h.sim.memory(0), image) << "the chip holds the whole file";
    }
}

TEST(WithTheSimulator, TheIspSwitchStartsOneMoreRunForAChangeDuringARun) {
    SimHost h;
    h.chooseChip(0);
    const QString path = h.openImage(randomImage(2048, 51));
    const auto tick = [&] { h.form->sequencer().Timer3Timer(); };
    const auto writeLater = [&](const QByteArray& image, int seconds) {
        writeWholeFile(path, hexFile(image));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(seconds),
                                     QFileDevice::FileModificationTime));
    };

    const QByteArray second = randomImage(2048, 52);
    const QByteArray third = randomImage(2048, 53);
    writeLater(second, 10);
    tick();
    tick();
    ASSERT_TRUE(h.form->sequencer().operationUnderWay());
    // The file changes again while the run goes on; the watch ticks all along.
    writeLater(third, 20);
    QElapsedTimer clock;
    clock.start();
    while (h.ends.empty() && clock.elapsed() < 60000) {
        tick();
        QTest::qWait(600); // Timer3's interval
    }
    ASSERT_TRUE(h.waitForEnd());
    const QStringList firstRun = h.log();
    EXPECT_EQ(firstRun.last(), "Lock Succssed !");
    EXPECT_EQ(firstRun.count("Erasing Now ......Please Wait !"), 1) << firstRun.join('|').toStdString();
    EXPECT_EQ(h.sim.memory(0), second);

    tick(); // the change settled during the run: taken at the first tick after it
    ASSERT_TRUE(h.form->sequencer().operationUnderWay());
    ASSERT_TRUE(h.waitForEnd());
    EXPECT_EQ(h.sim.memory(0), third);
    tick();
    tick();
    EXPECT_FALSE(h.form->sequencer().operationUnderWay()) << "exactly one more run";
    // Each run's lines together: the log is the first run's lines twice.
    EXPECT_EQ(h.log(), firstRun + firstRun.mid(firstRun.indexOf("Erasing Now ......Please Wait !")));
}

// The window's --trace: the start-up probe and its answer, then an operation's frames, read as the host reads
// them.
TEST(WithTheSimulator, TheWindowsTraceShowsTheStartUpProbeAndEveryFrame) {
    TempConfigHome home;
    QTemporaryDir dir;
    SimRunner sim;
    ASSERT_TRUE(sim.ok());
    GuiFixture f;
    QString error;
    const QString traceFile = dir.filePath("wire.trace");
    f.trace = LinkTrace::open(traceFile, error);
    ASSERT_TRUE(f.trace) << error.toStdString();
    auto form = f.start(sim.device());
    ASSERT_TRUE(form->portOpened());
    auto trace = [&] {
        QFile file(traceFile);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return trace().contains("status 02"); }, 10000)) << trace().toStdString();
    QSignalSpy ended(&form->sequencer(), &Sequencer::operationEnded);
    form->button("EraseBut")->click();
    ASSERT_TRUE(ended.count() > 0 || ended.wait(10000));
    // A notification's line follows from the event loop once the host has dealt with it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return trace().contains("status 06"); }, 10000)) << trace().toStdString();
    form.reset();

    QStringList lines = trace().split('\n', Qt::SkipEmptyParts);
    // The header first: the program, the port as opened, the chip, the time.
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], "# chipwright " CHIPWRIGHT_VERSION " wire trace");
    EXPECT_TRUE(lines[1].startsWith("# port: ") && lines[1].contains(" baud, 8 data bits")) << lines[1].toStdString();
    EXPECT_EQ(lines[2], "# chip: AT89S52");
    EXPECT_TRUE(lines[3].startsWith("# started: ")) << lines[3].toStdString();
    lines = lines.mid(4);
    const QStringList expected = {"->  FA 00 00  probe", "<-  02  status 02: programmer ready",
                                  "->  06 02 00  command erase AT89S52",
                                  "<-  06  status 06: erase finished, ends the operation"};
    ASSERT_EQ(lines.size(), expected.size()) << trace().toStdString();
    static const QRegularExpression time(R"(^ *\d+\.\d{3}  )");
    for (qsizetype i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].endsWith(expected[i])) << lines[i].toStdString();
        EXPECT_TRUE(time.match(lines[i]).hasMatch()) << lines[i].toStdString();
    }
}
