#include "platform/atomicfile.h"
#include "platform/filenames.h"
#include "platform/registry.h"
#include "platform/settingsfile.h"
#include "support/tempconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <functional>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <unistd.h>

using platform::RegistryHive;
using platform::RegistryKey;

TEST(Registry, ValuesRoundTripThroughTheFileInTheContractFormat) {
    TempConfigHome home;
    {
        auto key = RegistryKey::open(RegistryHive::CurrentUser, "\\Software\\Test", true);
        ASSERT_TRUE(key);
        EXPECT_TRUE(key->writeString("Port", "COM1"));
        EXPECT_TRUE(key->writeString("Quote", "a\"b\\c"));
        EXPECT_TRUE(key->writeDword("Buffer.InputSize", 300));
        EXPECT_TRUE(key->writeString("port", "/dev/ttyUSB0")); // same value, other case: replaced
    }
    const QString file = home.registry() + "/HKEY_CURRENT_USER/Software/Test/values.reg";
    EXPECT_EQ(readWholeFile(file), QByteArray("\"Port\"=\"/dev/ttyUSB0\"\n"
                                              "\"Quote\"=\"a\\\"b\\\\c\"\n"
                                              "\"Buffer.InputSize\"=dword:0000012c\n"));

    auto again = RegistryKey::open(RegistryHive::CurrentUser, "software/TEST", false);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->readString("PORT"), QString("/dev/ttyUSB0"));
    EXPECT_EQ(again->readString("Quote"), QString("a\"b\\c"));
    EXPECT_EQ(again->readDword("Buffer.InputSize"), 300u);
    EXPECT_FALSE(again->readString("Buffer.InputSize")) << "a number value is not a string";
    EXPECT_FALSE(again->readDword("Port")) << "a string value is not a number";
    EXPECT_FALSE(again->readString("Missing"));
}

TEST(Registry, KeysAreFoldersFoundIgnoringCaseAndCreatedOnlyWhenAsked) {
    TempConfigHome home;
    EXPECT_FALSE(RegistryKey::open(RegistryHive::CurrentUser, "A\\B", false));
    EXPECT_FALSE(QDir(home.registry() + "/HKEY_CURRENT_USER/A").exists());

    ASSERT_TRUE(RegistryKey::open(RegistryHive::LocalMachine, "Hardware\\\\DeviceMap\\", true));
    EXPECT_TRUE(QDir(home.registry() + "/HKEY_LOCAL_MACHINE/Hardware/DeviceMap").exists());
    auto found = RegistryKey::open(RegistryHive::LocalMachine, "HARDWARE\\devicemap\\New", true);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->folder(), home.registry() + "/HKEY_LOCAL_MACHINE/Hardware/DeviceMap/New");
    // Path components never climb out of the registry.
    auto dots = RegistryKey::open(RegistryHive::CurrentUser, "..\\..\\x", true);
    ASSERT_TRUE(dots);
    EXPECT_TRUE(dots->folder().startsWith(home.registry() + "/HKEY_CURRENT_USER/"));
}

TEST(Registry, MalformedLinesAreIgnoredAndTheRestIsRead) {
    TempConfigHome home;
    const QString file = home.registry() + "/HKEY_CURRENT_USER/K/values.reg";
    static const char text[] = "garbage\n"
                         "\"Good\"=\"yes\"\r\n"
                         "\"Unterminated=\"x\"\n"
                         "\"Short\"=dword:12\n"
                         "\"NotHex\"=dword:zzzzzzzz\n"
                         "\"Trailing\"=\"a\" junk\n"
                         "=\"nameless\"\n"
                         "\"Number\"=dword:ffffffff\n"
                         "\xff\xfe\x00\x01\n"
                         "\"Good\"=\"later wins\"\n"
                         "\"Last\"=\"no newline\"";
    writeWholeFile(file, QByteArray(text, sizeof(text) - 1)); // the NUL byte included
    auto key = RegistryKey::open(RegistryHive::CurrentUser, "K", false);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->valueNames(), QStringList({"Good", "Number", "Last"}));
    EXPECT_EQ(key->readString("Good"), QString("later wins"));
    EXPECT_EQ(key->readDword("Number"), 0xffffffffu);
    EXPECT_EQ(key->readString("Last"), QString("no newline"));
}

namespace {
void dieBeforeRename(const QString&) { ::_exit(3); }
} // namespace

TEST(Registry, AWriteInterruptedBeforeItsRenameLeavesTheOldFile) {
    TempConfigHome home;
    auto key = RegistryKey::open(RegistryHive::CurrentUser, "Crash", true);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->writeString("Old", "kept"));
    const QByteArray before = readWholeFile(key->valuesFile());

    // The child process dies after the new file is fully written but before it replaces the old one: the worst
    // moment for a crash.
    EXPECT_EXIT(
        {
            platform::setAtomicWriteHook(dieBeforeRename);
            key->writeString("New", "lost");
        },
        ::testing::ExitedWithCode(3), "");

    EXPECT_EQ(readWholeFile(key->valuesFile()), before);
    auto reread = RegistryKey::open(RegistryHive::CurrentUser, "Crash", false);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->readString("Old"), QString("kept"));
    EXPECT_FALSE(reread->readString("New"));
    // The next write still succeeds and leaves a whole file.
    EXPECT_TRUE(reread->writeString("New", "written"));
    EXPECT_EQ(RegistryKey::open(RegistryHive::CurrentUser, "Crash", false)->readString("New"), QString("written"));
}

TEST(Registry, AFailedWriteKeepsTheOldValueInMemoryAndOnDisk) {
    TempConfigHome home;
    auto key = RegistryKey::open(RegistryHive::CurrentUser, "Blocked", true);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->writeString("A", "1"));
    // Replace the key's folder with a file: even root cannot create the temporary file below it.
    const QString folder = key->folder();
    QDir(folder).removeRecursively();
    writeWholeFile(folder, "not a folder");
    EXPECT_FALSE(key->writeString("A", "2"));
    EXPECT_EQ(key->readString("A"), QString("1"));
}

TEST(Registry, OnlyARegularFileOfSettingsSizeIsReadAsValues) {
    TempConfigHome home;
    const QString folder = home.registry() + "/HKEY_CURRENT_USER/K";
    const QString file = folder + "/values.reg";
    const QByteArray good("\"Good\"=\"yes\"\n");
    writeWholeFile(folder + "/elsewhere.reg", good);
    const auto encoded = [](const QString& path) { return QFile::encodeName(path); };

    struct Case {
        const char* what;
        std::function<void()> make;
        bool readsGood;
    };
    const std::vector<Case> cases = {
        {"a link to a good file (a dotfiles folder)",
         [&] { ASSERT_EQ(::symlink("elsewhere.reg", encoded(file).constData()), 0); }, true},
        {"a FIFO that nobody writes", [&] { ASSERT_EQ(::mkfifo(encoded(file).constData(), 0600), 0); },
         false},
        {"a link to an endless device",
         [&] { ASSERT_EQ(::symlink("/dev/zero", encoded(file).constData()), 0); }, false},
        {"a folder", [&] { ASSERT_TRUE(QDir().mkpath(file)); }, false},
        {"a 64 MB file",
         [&] {
             writeWholeFile(file, good);
             ASSERT_EQ(::truncate(encoded(file).constData(), 64 << 20), 0);
         },
         false},
        {"just over a megabyte of good lines",
         [&] {
             QByteArray text = good;
             while (text.size() <= platform::settingsFileLimit)
                 text += good;
             writeWholeFile(file, text);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(file);
        QDir(file).removeRecursively();
        c.make();
        const auto key = RegistryKey::open(RegistryHive::CurrentUser, "K", false);
        ASSERT_TRUE(key);
        EXPECT_EQ(key->readString("Good"), c.readsGood ? std::optional<QString>("yes") : std::nullopt);
    }
}

TEST(Registry, AValuesFileThatIsALinkStaysALinkWhenWritten) {
    TempConfigHome home;
    const QString folder = home.registry() + "/HKEY_CURRENT_USER/K";
    writeWholeFile(folder + "/dotfiles.reg", "\"Old\"=\"1\"\n");
    ASSERT_EQ(::symlink("dotfiles.reg", QFile::encodeName(folder + "/values.reg").constData()), 0);
    auto key = RegistryKey::open(RegistryHive::CurrentUser, "K", false);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->writeString("New", "2"));
    EXPECT_EQ(QFileInfo(folder + "/values.reg").symLinkTarget(), folder + "/dotfiles.reg");
    EXPECT_EQ(readWholeFile(folder + "/dotfiles.reg"), QByteArray("\"Old\"=\"1\"\n\"New\"=\"2\"\n"));
}

TEST(Registry, ManyValuesParseInOneLinearPassAndLaterLinesWin) {
    // 200k distinct names plus a second line for each tenth one, in another case: a quadratic parse takes
    // minutes.
    QByteArray text;
    for (int i = 0; i < 200000; ++i)
        text += "\"Value" + QByteArray::number(i) + "\"=dword:00000001\n";
    for (int i = 0; i < 200000; i += 10)
        text += "\"VALUE" + QByteArray::number(i) + "\"=\"later\"\n";
    const std::vector<platform::RegistryValue> values = RegistryKey::parse(text);
    ASSERT_EQ(values.size(), 200000u);
    EXPECT_EQ(values[0].name, QString("VALUE0"));
    EXPECT_EQ(values[0].text, QString("later"));
    EXPECT_EQ(values[1].number, 1u);
    EXPECT_EQ(values[199990].text, QString("later"));
}

TEST(Registry, AReadOnlyStoreCreatesNoFolderAndWritesNoValue) {
    TempConfigHome home;
    platform::setRegistryReadOnly(true);
    EXPECT_FALSE(RegistryKey::open(RegistryHive::CurrentUser, "Software\\New", true));
    EXPECT_FALSE(QDir(home.registry()).exists());
    platform::setRegistryReadOnly(false);
    auto key = RegistryKey::open(RegistryHive::CurrentUser, "Software\\New", true);
    ASSERT_TRUE(key);
    platform::setRegistryReadOnly(true);
    EXPECT_FALSE(key->writeString("A", "1"));
    EXPECT_FALSE(QFile::exists(key->valuesFile()));
    platform::setRegistryReadOnly(false);
}

TEST(Registry, AValueThatIsNotUtf8IsKeptByteForByte) {
    TempConfigHome home;
    // A port path as the command line gives it, with a byte that is not UTF-8.
    const QString port = platform::fileNameFromBytes("/dev/serial/by-id/usb-caf\xe9-port0");
    auto key = RegistryKey::open(RegistryHive::CurrentUser, "Ports", true);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->writeString("Port", port));
    EXPECT_EQ(readWholeFile(key->valuesFile()),
              QByteArray("\"Port\"=\"/dev/serial/by-id/usb-caf\xe9-port0\"\n"));
    EXPECT_EQ(RegistryKey::open(RegistryHive::CurrentUser, "Ports", false)->readString("Port"), port);
}
