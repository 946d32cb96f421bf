#include "fixtures.h"
#include "support/fakeview.h"
#include "support/outputtargets.h"
#include "support/tempconfig.h"

#include "buffer/dumpline.h"
#include "buffer/filecommands.h"
#include "buffer/filenames.h"
#include "platform/filetime.h"
#include "programmer/chipcatalogue.h"
#include "programmer/hostsession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>

namespace {

class OpenCommand : public ::testing::Test {
protected:
    OpenCommand() : session(view) {
        session.confirmChip(0); // AT89C2051
        view.hex = QStringList{QStringLiteral("earlier view")};
    }
    // A copy of a fixture under another name.
    QString copy(const char* fixtureName, const QString& name) {
        const QString path = dir.filePath(name);
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(fixture(fixtureName), path));
        return path;
    }

    TempConfigHome config;
    QTemporaryDir dir;
    FakeView view;
    HostSession session;
    FileState state;
};

TEST_F(OpenCommand, ALoadThatFitsIsShown) {
    const QString path = copy("c2051_fits.hex", QStringLiteral("prog.HEX"));
    EXPECT_TRUE(openFile(session, state, path));
    EXPECT_TRUE(view.messages.isEmpty());
    EXPECT_EQ(state.kind, FileKind::Hex);
    EXPECT_EQ(view.hex.size(), 128);
    EXPECT_TRUE(view.hex.last().startsWith(QStringLiteral("0007F0  00 01 02")));
    EXPECT_TRUE(view.ispEnabled);
    EXPECT_EQ(view.panel.devEnd, QStringLiteral("0007FFH"));
    EXPECT_EQ(view.statusBar, QStringLiteral("Open File:   ") + path);
    EXPECT_EQ(state.fileName, path);
    EXPECT_EQ(state.stamp, platform::fileStamp(path));
    EXPECT_FALSE(state.stamp.isEmpty());
}

// Every name against every kind the previous Open left: .hex, .ihx and .ihex in any case are HEX, .bin in any
// case is binary, whatever came before; any other ending keeps the previous kind (and is refused before any).
// Each file holds HEX text, so a HEX name read as binary (the bytes 3A 31 30 ...) shows as the wrong data
// end.
TEST_F(OpenCommand, TheEndingChoosesTheKindInAnyCaseAndOtherEndingsKeepThePreviousOne) {
    const struct {
        const char* name;
        std::optional<FileKind> kind; // nothing: the previous kind stays
    } names[] = {
        {"a.hex", FileKind::Hex},  {"a.HEX", FileKind::Hex},    {"a.hEx", FileKind::Hex},
        {"a.ihx", FileKind::Hex},  {"a.IHX", FileKind::Hex},    {"a.ihex", FileKind::Hex},
        {"a.IHex", FileKind::Hex}, {"a.bin", FileKind::Binary}, {"a.BiN", FileKind::Binary},
        {"a.img", std::nullopt},   {"a.hex.txt", std::nullopt}, {"ahex", std::nullopt},
        {"a.hx", std::nullopt},
    };
    const qint64 hexTextSize = QFileInfo(fixture("types.hex")).size();
    for (const FileKind previous : {FileKind::None, FileKind::Hex, FileKind::Binary}) {
        for (const auto& n : names) {
            SCOPED_TRACE(testing::Message() << n.name << " after kind " << static_cast<int>(previous));
            view.messages.clear();
            state = FileState();
            state.kind = previous;
            const QString path = copy("types.hex", QLatin1String(n.name));
            const FileKind expected = n.kind.value_or(previous);
            EXPECT_EQ(openFile(session, state, path), expected != FileKind::None);
            EXPECT_EQ(state.kind, expected);
            if (expected == FileKind::None) {
                EXPECT_EQ(view.messages,
                          QStringList{QStringLiteral("Open File Error !  Please Choose Again !")});
                continue;
            }
            EXPECT_TRUE(view.messages.isEmpty());
            EXPECT_EQ(session.buffer().dataEnd(), expected == FileKind::Hex ? 0x10 : hexTextSize - 1);
        }
    }
}

TEST(OpenDialogFilter, ListsEveryEndingInEveryCaseAndNothingElse) {
    const QString filter = openDialogFilter();
    EXPECT_TRUE(filter.startsWith("OpenFile(*.hex;*.bin) (")) << "the name the dialog shows";
    const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
    ASSERT_GT(open, 0);
    ASSERT_TRUE(filter.endsWith(QLatin1Char(')')));
    const QStringList patterns = filter.mid(open + 1, filter.size() - open - 2).split(QLatin1Char(' '));
    auto shown = [&](const QString& name) {
        for (const QString& pattern : patterns) {
            const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern));
            if (re.match(name).hasMatch()) return true;
        }
        return false;
    };
    for (const char* name :
         {"a.hex", "a.HEX", "a.hEx", "a.ihx", "a.IHX", "b.ihex", "b.iHeX", "c.bin", "c.BIN", "c.bIn"})
        EXPECT_TRUE(shown(QLatin1String(name))) << name;
    for (const char* name : {"a.txt", "a.hex.txt", "ahex", "a.hx", "a.ihexx", "a.bin~"})
        EXPECT_FALSE(shown(QLatin1String(name))) << name;
}

TEST_F(OpenCommand, ANameOfNoKnownKindBeforeAnyLoadIsAnError) {
    const QString path = copy("types.hex", QStringLiteral("prog.txt"));
    EXPECT_FALSE(openFile(session, state, path));
    EXPECT_EQ(view.messages, QStringList{QStringLiteral("Open File Error !  Please Choose Again !")});
    EXPECT_EQ(view.hex, QStringList{QStringLiteral("earlier view")});
    EXPECT_TRUE(view.statusBar.isEmpty());
    EXPECT_TRUE(state.fileName.isEmpty());
    EXPECT_EQ(state.chosenPath, path);
}

TEST_F(OpenCommand, ATooLargeFileShowsTheChipsMessageAndKeepsTheView) {
    const QString path = copy("c2051_over.hex", QStringLiteral("big.hex"));
    EXPECT_FALSE(openFile(session, state, path));
    EXPECT_EQ(
        view.messages,
        QStringList{QStringLiteral(
            "Open File Error ! AT89C2051 Cant Be Program 2K Active Byte Only ! Please Choose Again !")});
    EXPECT_EQ(view.hex, QStringList{QStringLiteral("earlier view")});
    EXPECT_EQ(view.panel.devEnd, QStringLiteral("000000H"));
    EXPECT_EQ(session.buffer().dataEnd(), 0x801);
    EXPECT_EQ(view.statusBar, QStringLiteral("Open File:   ") + path);
    EXPECT_EQ(state.stamp, platform::fileStamp(path));
}

TEST_F(OpenCommand, UnreadableFilesShowTheGeneralMessageOnly) {
    for (const QString& path :
         {copy("bad_type.hex", QStringLiteral("bad.hex")), dir.filePath(QStringLiteral("gone.bin"))}) {
        view.messages.clear();
        EXPECT_FALSE(openFile(session, state, path));
        EXPECT_EQ(view.messages, QStringList{QStringLiteral("Open File Error !  Please Choose Again !")});
        EXPECT_EQ(view.hex, QStringList{QStringLiteral("earlier view")});
        EXPECT_TRUE(view.statusBar.isEmpty());
        EXPECT_TRUE(state.stamp.isEmpty());
    }
}

TEST_F(OpenCommand, AChipIndexOutsideTheTableLoadsNothingButRecordsTheName) {
    session.setChipIndex(9);
    const QString path = copy("types.hex", QStringLiteral("p.hex"));
    EXPECT_FALSE(openFile(session, state, path));
    EXPECT_TRUE(view.messages.isEmpty());
    EXPECT_TRUE(session.buffer().code().empty());
    EXPECT_EQ(view.statusBar, QStringLiteral("Open File:   ") + path);
}

TEST_F(OpenCommand, TheStatusBarKeepsTheFirst255Characters) {
    // Folder names are limited to 255 bytes each, so the path gets its length from three of them.
    const QString folder = QString(100, QLatin1Char('d'));
    const QString sub = folder + QLatin1Char('/') + folder + QLatin1Char('/') + folder;
    ASSERT_TRUE(QDir(dir.path()).mkpath(sub));
    const QString path = copy("types.hex", sub + QStringLiteral("/p.hex"));
    ASSERT_GT(path.size(), 300);
    EXPECT_TRUE(openFile(session, state, path));
    EXPECT_EQ(state.fileName, path.left(255));
    EXPECT_EQ(view.statusBar, QStringLiteral("Open File:   ") + path.left(255));
    EXPECT_EQ(state.chosenPath, path);
}

TEST_F(OpenCommand, ReloadUsesTheGivenCapacityAndTellsNothing) {
    const QString path = copy("c2051_fits.hex", QStringLiteral("w.hex"));
    ASSERT_TRUE(openFile(session, state, path));
    copy("c2051_over.hex", QStringLiteral("w.hex"));
    EXPECT_EQ(reloadFile(session, state, 2048).status, LoadStatus::DoesNotFit);
    EXPECT_EQ(reloadFile(session, state, 4096).status, LoadStatus::Loaded);
    EXPECT_EQ(session.buffer().code().size(), 4096u);
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST(SizeMessages, EveryChip) {
    const char* expected[] = {
        "Open File Error ! AT89C2051 Cant Be Program 2K Active Byte Only ! Please Choose Again !",
        "Open File Error ! AT89C4051 Cant Be Program 4K Active Byte Only ! Please Choose Again !",
        "Open File Error ! AT89C51 Cant Be Program 4K Active Byte Only ! Please Choose Again !",
        "Open File Error ! AT89C52 Cant Be Program 8K Active Byte Only ! Please Choose Again !",
        "Open File Error ! AT89C55 Cant Be Program 20K Active Byte Only ! Please Choose Again !",
        "Open File Error ! AT89S51 Cant Be Program 4K Active Byte Only ! Please Choose Again !",
        "Open File Error ! AT89S52 Cant Be Program 8K Active Byte Only ! Please Choose Again !",
        "Open File Error ! AT89S53 Cant Be Program 12K Active Byte Only ! Please Choose Again !",
    };
    for (int i = 0; i < chipCount; ++i)
        EXPECT_EQ(sizeMessage(*chipAt(i)), QLatin1String(expected[i]));
}

TEST(FileStamp, EvenSecondsAndTimeZero) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.bin"));
    writeWholeFile(path, "x");
    const QDateTime base(QDate(2024, 5, 17), QTime(13, 45, 10));
    auto stampAt = [&](int secs) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadWrite));
        EXPECT_TRUE(f.setFileTime(base.addSecs(secs).addMSecs(300), QFileDevice::FileModificationTime));
        f.close();
        return platform::fileStamp(path);
    };
    EXPECT_EQ(stampAt(0), platform::stampText(base));
    EXPECT_EQ(stampAt(1), platform::stampText(base));
    EXPECT_NE(stampAt(2), platform::stampText(base));
    EXPECT_TRUE(platform::stampText(base).contains(QStringLiteral("45")));            // carries minutes
    EXPECT_TRUE(platform::stampText(base.addSecs(2)).contains(QStringLiteral("12"))); // and seconds
    EXPECT_EQ(platform::fileStamp(dir.filePath(QStringLiteral("missing"))),
              platform::stampText(QDateTime(QDate(1899, 12, 30), QTime(0, 0))));
}

class SaveCommand : public ::testing::Test {
protected:
    SaveCommand() : session(view) { session.confirmChip(0); }
    TempConfigHome config;
    QTemporaryDir dir;
    FakeView view;
    HostSession session;
};

TEST_F(SaveCommand, AnEmptyViewIsRefused) {
    EXPECT_FALSE(canSave(session));
    EXPECT_EQ(view.messages,
              QStringList{QStringLiteral("Please Open *.Hex , *.Bin File Or Read IC Data Firstly !")});
    session.clearCode();
    EXPECT_TRUE(canSave(session));
}

TEST_F(SaveCommand, TheExtensionIsAlwaysAppended) {
    session.clearCode();
    const QString base = dir.filePath(QStringLiteral("prog.hex"));
    EXPECT_TRUE(saveFile(session, base, SaveFormat::Hex));
    EXPECT_TRUE(saveFile(session, base, SaveFormat::Binary));
    EXPECT_TRUE(QFileInfo::exists(base + QStringLiteral(".hex")));
    EXPECT_FALSE(QFileInfo::exists(base));
    EXPECT_EQ(readWholeFile(base + QStringLiteral(".bin")), QByteArray(2048, '\xFF'));
    const QByteArray hex = readWholeFile(base + QStringLiteral(".hex"));
    EXPECT_TRUE(hex.startsWith(":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00\r\n"));
    EXPECT_TRUE(hex.endsWith(":1007F000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF09\r\n:00000001FF\r\n"));
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST_F(SaveCommand, EditsAreSavedAndBadLinesOrFoldersReported) {
    session.clearCode();
    view.hex[1].replace(8, 2, QStringLiteral("a5"));
    const QString base = dir.filePath(QStringLiteral("edited"));
    EXPECT_TRUE(saveFile(session, base, SaveFormat::Binary));
    EXPECT_EQ(readWholeFile(base + QStringLiteral(".bin"))[16], '\xA5');
    EXPECT_EQ(session.buffer().code()[16], 0xFF);

    view.hex[3] = QStringLiteral("000030  zz");
    EXPECT_FALSE(saveFile(session, dir.filePath(QStringLiteral("bad")), SaveFormat::Hex));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("bad.hex"))));
    ASSERT_EQ(view.messages.size(), 1);
    EXPECT_TRUE(view.messages[0].startsWith(QStringLiteral("Line 4 of the hex view")))
        << view.messages[0].toStdString();

    session.clearCode();
    EXPECT_FALSE(saveFile(session, dir.filePath(QStringLiteral("none/x")), SaveFormat::Binary));
    EXPECT_EQ(view.messages.size(), 2);
}

// The window's Save uses the program's one file writer: links are written through, a FIFO nobody reads and a
// full filesystem are reported with the system's own text, a read-only folder over a writable file is written
// in place, and a failure leaves the previous file as it was.
TEST_F(SaveCommand, SaveIntoEveryKindOfTarget) {
    session.clearCode();
    const QByteArray erased(2048, '\xFF');
    const QByteArray old("previous\n");
    const QString folder = dir.path();
    const auto encoded = [](const QString& path) { return QFile::encodeName(path); };
    writeWholeFile(folder + "/target.bin", old);
    ASSERT_EQ(::symlink("target.bin", encoded(folder + "/link.bin").constData()), 0);
    ASSERT_EQ(::mkfifo(encoded(folder + "/fifo").constData(), 0600), 0);
    ASSERT_EQ(::symlink("fifo", encoded(folder + "/pipe.bin").constData()), 0);

    EXPECT_TRUE(saveFile(session, folder + "/link", SaveFormat::Binary));
    EXPECT_TRUE(QFileInfo(folder + "/link.bin").isSymLink());
    EXPECT_EQ(readWholeFile(folder + "/target.bin"), erased);

    EXPECT_FALSE(saveFile(session, folder + "/pipe", SaveFormat::Binary));
    EXPECT_EQ(view.messages.value(0), QStringLiteral("No process reads from this FIFO"));
    EXPECT_TRUE(QFileInfo(folder + "/pipe.bin").isSymLink());

    // A folder the user may not write, over a file they may.
    const QString locked = folder + "/locked";
    ASSERT_TRUE(QDir().mkpath(locked));
    shareWithUnprivilegedUser(folder);
    writeWholeFile(locked + "/mine.bin", old);
    ASSERT_EQ(::chown(encoded(locked + "/mine.bin").constData(), unprivilegedUid(), gid_t(-1)), 0);
    ASSERT_EQ(::chmod(encoded(locked + "/mine.bin").constData(), 0640), 0);
    ASSERT_EQ(::chmod(encoded(locked).constData(), 0555), 0);
    EXPECT_EQ(runInUnprivilegedChild(
                  [&] { return saveFile(session, locked + "/mine", SaveFormat::Binary) ? 0 : 1; }),
              0);
    EXPECT_EQ(readWholeFile(locked + "/mine.bin"), erased);
    struct stat st {};
    ASSERT_EQ(::stat(encoded(locked + "/mine.bin").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ::chmod(encoded(locked).constData(), 0755);

    SmallTmpfs fs;
    if (!fs.mounted()) GTEST_SKIP() << fs.reason().toStdString();
    writeWholeFile(fs.path() + "/full.hex", old);
    fs.fill();
    view.messages.clear();
    EXPECT_FALSE(saveFile(session, fs.path() + "/full", SaveFormat::Hex));
    EXPECT_EQ(view.messages, QStringList{QStringLiteral("No space left on device")});
    EXPECT_EQ(readWholeFile(fs.path() + "/full.hex"), old);
}

} // namespace
