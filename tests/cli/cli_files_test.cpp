// chipwright-cli's files as a user meets them: outputs that are links, FIFOs, devices, full filesystems or
// files in folders the user may not write; inputs that are missing; and a settings store that it only reads,
// even when that store is damaged.
#include "cliprocess.h"
#include "support/outputtargets.h"
#include "support/simrunner.h"
#include "support/tempconfig.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

namespace {

constexpr int c2051Size = 2048;
const QByteArray oldContent("the previous content\n");

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

bool isLink(const QString& path) {
    struct stat st {};
    return ::lstat(encoded(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

struct stat statOf(const QString& path) {
    struct stat st {};
    ::stat(encoded(path).constData(), &st);
    return st;
}

// An image of 40 bytes as a binary input file; converted for an AT89C2051 it is padded with FF to 2048 bytes.
QByteArray image() {
    QByteArray bytes;
    for (int i = 0; i < 40; ++i)
        bytes.append(char(i * 7 + 3));
    return bytes;
}

QByteArray converted() {
    return image() + QByteArray(c2051Size - image().size(), char(0xFF));
}

class CliFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        writeWholeFile(dir.filePath("image.bin"), image());
    }

    CliResult convert(const QString& output, const QStringList& launcher = {}) {
        return runCliThrough(launcher, {"--chip", "0", "convert", dir.filePath("image.bin"), output},
                             dir.path());
    }

    TempConfigHome home;
    QTemporaryDir dir;
};

} // namespace

// Every output kind: what the file system holds afterwards, the exit code and the message. A failure always
// leaves the previous content as it was.
TEST_F(CliFiles, ConvertAndReadIntoEveryKindOfOutput) {
    const QString folder = dir.path();
    writeWholeFile(folder + "/existing.bin", oldContent);
    ::chmod(encoded(folder + "/existing.bin").constData(), 0604);
    writeWholeFile(folder + "/target.bin", oldContent);
    ASSERT_EQ(::symlink("target.bin", encoded(folder + "/link.bin").constData()), 0);
    ASSERT_EQ(::mkfifo(encoded(folder + "/stream.bin").constData(), 0600), 0);
    ASSERT_EQ(::symlink("stream.bin", encoded(folder + "/fifo-link.bin").constData()), 0);
    const bool haveDevice =
        ::mknod(encoded(folder + "/null-device").constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    QDir(folder).mkdir("folder.bin");
    if (haveDevice) {
        EXPECT_EQ(::symlink("null-device", encoded(folder + "/device-link.bin").constData()), 0);
    }

    struct Case {
        const char* what;
        QString output;
        int exitCode;
        QByteArray message;
        std::function<void()> check;
    };
    const std::vector<Case> cases = {
        {"a new file", folder + "/new.bin", 0, "",
         [&] { EXPECT_EQ(readWholeFile(folder + "/new.bin"), converted()); }},
        {"an existing file keeps its mode", folder + "/existing.bin", 0, "",
         [&] {
             EXPECT_EQ(readWholeFile(folder + "/existing.bin"), converted());
             EXPECT_EQ(statOf(folder + "/existing.bin").st_mode & 07777, 0604u);
         }},
        {"a link to a file is written through", folder + "/link.bin", 0, "",
         [&] {
             EXPECT_TRUE(isLink(folder + "/link.bin"));
             EXPECT_EQ(readWholeFile(folder + "/target.bin"), converted());
         }},
        {"a link to a FIFO that nobody reads is refused", folder + "/fifo-link.bin", 2,
         "fifo-link.bin: No process reads from this FIFO",
         [&] {
             EXPECT_TRUE(isLink(folder + "/fifo-link.bin"));
             EXPECT_TRUE(S_ISFIFO(statOf(folder + "/stream.bin").st_mode));
         }},
        {"a folder", folder + "/folder.bin", 2, "folder.bin: Is a directory",
         [&] { EXPECT_TRUE(QFileInfo(folder + "/folder.bin").isDir()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CliResult r = convert(c.output);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        c.check();
    }

    if (haveDevice) {
        const CliResult r = convert(folder + "/device-link.bin");
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(S_ISCHR(statOf(folder + "/null-device").st_mode)) << "the device node is still a device";
        EXPECT_TRUE(isLink(folder + "/device-link.bin"));
    }

    // A FIFO that a process reads gets the bytes.
    CliResult r;
    const QByteArray received = readFifoWhileWriting(
        folder + "/stream.bin",
        [&] {
            r = convert(folder + "/stream.bin");
            return r.exitCode == 0;
        },
        100, 20000);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(received, converted());
    EXPECT_TRUE(S_ISFIFO(statOf(folder + "/stream.bin").st_mode));

    // read, against the simulator, into a link and into a FIFO nobody reads.
    SimRunner sim;
    ASSERT_TRUE(sim.ok());
    writeWholeFile(folder + "/target.bin", oldContent);
    r = runCli({"--port", sim.device(), "--chip", "0", "read", folder + "/link.bin"}, folder);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(isLink(folder + "/link.bin"));
    EXPECT_EQ(readWholeFile(folder + "/target.bin"), sim.memory(0));
    r = runCli({"--port", sim.device(), "--chip", "0", "read", folder + "/fifo-link.bin"}, folder);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("No process reads from this FIFO")) << r.err.toStdString();
}

TEST_F(CliFiles, AFullFilesystemOrAFileSizeLimitExitsTwoAndKeepsTheOldOutput) {
    // A file size limit fails the write with EFBIG, unprivileged (the tool must not die of SIGXFSZ). The
    // limit is counted in blocks of 512 or 1024 bytes depending on the shell; one block is below the 2048
    // bytes written either way.
    const QStringList limited = {"/bin/sh", "-c", "ulimit -f 1; exec \"$@\"", "sh"};
    writeWholeFile(dir.filePath("out.bin"), oldContent);
    CliResult r = convert(dir.filePath("out.bin"), limited);
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("out.bin: File too large")) << r.err.toStdString();
    EXPECT_EQ(readWholeFile(dir.filePath("out.bin")), oldContent);

    SimRunner sim;
    ASSERT_TRUE(sim.ok());
    r = runCliThrough(limited, {"--port", sim.device(), "--chip", "0", "read", dir.filePath("out.bin")},
                      dir.path());
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("out.bin: File too large")) << r.err.toStdString();
    EXPECT_EQ(readWholeFile(dir.filePath("out.bin")), oldContent);

    SmallTmpfs fs;
    if (!fs.mounted()) GTEST_SKIP() << fs.reason().toStdString();
    const QString full = fs.path() + "/out.hex"; // HEX of 2048 bytes: about 6 KB
    writeWholeFile(full, oldContent);
    fs.fill();
    r = convert(full);
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("out.hex: No space left on device")) << r.err.toStdString();
    EXPECT_EQ(readWholeFile(full), oldContent);
    EXPECT_EQ(QDir(fs.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({".filler", "out.hex"}));
}

TEST_F(CliFiles, AReadOnlyFolderOverAWritableFile) {
    // As root, folder permissions do not apply: run the tool as nobody then.
    QStringList asUser;
    if (::geteuid() == 0) {
        if (!QFileInfo::exists("/usr/bin/setpriv"))
            GTEST_SKIP() << "needs setpriv to run the tool as another user";
        asUser = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    const QString folder = dir.filePath("locked");
    ASSERT_TRUE(QDir().mkpath(folder));
    shareWithUnprivilegedUser(dir.path());
    ::chmod(encoded(dir.filePath("image.bin")).constData(), 0644);
    struct Case {
        QString name;
        mode_t mode; // 0: no such file
        int exitCode;
        QByteArray content;
    };
    const std::vector<Case> cases = {
        {"writable.bin", 0600, 0, converted()},
        {"shared.bin", 0664, 0, converted()},
        {"read-only.bin", 0444, 2, oldContent},
        {"new.bin", 0, 2, {}},
    };
    for (const Case& c : cases) {
        if (!c.mode) continue;
        writeWholeFile(folder + "/" + c.name, oldContent + oldContent);
        EXPECT_EQ(::chown(encoded(folder + "/" + c.name).constData(), unprivilegedUid(), static_cast<gid_t>(-1)), 0);
        ::chmod(encoded(folder + "/" + c.name).constData(), c.mode);
        if (c.exitCode) writeWholeFile(folder + "/" + c.name, c.content);
    }
    ::chmod(encoded(folder).constData(), 0555);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const CliResult r = convert(folder + "/" + c.name, asUser);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        if (c.exitCode) {
            EXPECT_TRUE(r.err.contains(": Permission denied")) << r.err.toStdString();
        }
        EXPECT_EQ(readWholeFile(folder + "/" + c.name), c.content);
        if (c.mode) {
            EXPECT_EQ(statOf(folder + "/" + c.name).st_mode & 07777, c.mode);
        }
    }
    ::chmod(encoded(folder).constData(), 0755);
}

TEST_F(CliFiles, AMissingInputSaysSoOnce) {
    const CliResult r = runCli({"--chip", "0", "convert", "missing.hex", "out.bin"}, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Open File Error !  Please Choose Again !\n"
                     "chipwright-cli: missing.hex: No such file or directory\n");
}

// The tool reads the window's settings and never writes them: it leaves an empty store empty (no folder
// made), and a damaged one (a FIFO, an endless device, a huge file, a huge number of values) neither hangs it
// nor exhausts its memory.
TEST_F(CliFiles, TheSettingsStoreIsOnlyReadEvenWhenDamaged) {
    CliResult r = convert(dir.filePath("out.bin"));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = runCli({"--port", "/dev/chipwright-no-such-port", "probe"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());

    const QString buildDir =
        QFileInfo(qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-cli").canonicalPath();
    const QString appValues =
        home.registry() + "/HKEY_CURRENT_USER" + buildDir + "/Program.ini/HexFileOpen/values.reg";
    QByteArray manyValues;
    for (int i = 0; i < 200000; ++i)
        manyValues += "\"Value" + QByteArray::number(i) + "\"=\"x\"\n";
    QByteArray goodValuesLast =
        "\"DownLoadset.Fill\"=\"0\"\n"; // small enough to be read: the fill byte 00 wins
    for (int i = 0; i < 20000; ++i)
        goodValuesLast += "\"Other" + QByteArray::number(i) + "\"=\"x\"\n";

    struct Case {
        const char* what;
        std::function<void()> make;
        char fill;
    };
    const std::vector<Case> cases = {
        {"a FIFO", [&] { ::mkfifo(encoded(appValues).constData(), 0600); }, char(0xFF)},
        {"a link to /dev/zero", [&] { EXPECT_EQ(::symlink("/dev/zero", encoded(appValues).constData()), 0); }, char(0xFF)},
        {"a 64 MB file",
         [&] {
             writeWholeFile(appValues, "\"DownLoadset.Fill\"=\"0\"\n");
             EXPECT_EQ(::truncate(encoded(appValues).constData(), 64 << 20), 0);
         },
         char(0xFF)},
        {"200k values", [&] { writeWholeFile(appValues, manyValues); }, char(0xFF)},
        {"20k values after a good one", [&] { writeWholeFile(appValues, goodValuesLast); }, char(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir().mkpath(QFileInfo(appValues).path());
        QFile::remove(appValues);
        c.make();
        r = convert(dir.filePath("out.bin"));
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(readWholeFile(dir.filePath("out.bin")),
                  image() + QByteArray(c2051Size - image().size(), c.fill));
    }
}

// Names that are not UTF-8 reach the system byte for byte: an input named caf\xe9.bin is read, the output
// o\xff.bin is written under exactly that name, and a missing one is named in its own bytes.
TEST_F(CliFiles, NamesThatAreNotUtf8AreUsedByteForByte) {
    const QByteArray folder = encoded(dir.path());
    const QByteArray input = folder + "/caf\xe9.bin";
    const QByteArray output = folder + "/o\xff.bin";
    const int fd = ::open(input.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, image().constData(), image().size()), image().size());
    ::close(fd);

    // QProcess would pass the names through Qt's conversion; the shell passes the bytes.
    const auto run = [&](const char* in, const char* out) {
        return runCliThrough(
            {"/bin/sh", "-c",
             QString("exec \"$0\" --chip 0 convert \"$(printf '%1')\" \"$(printf '%2')\"").arg(in, out)},
            {}, dir.path());
    };
    CliResult r = run("caf\\351.bin", "o\\377.bin");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(output.constData(), &st), 0) << "no file of exactly that name";
    QFile written;
    const int outFd = ::open(output.constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_TRUE(written.open(outFd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    EXPECT_EQ(written.readAll(), converted());
    std::vector<QByteArray> names;
    if (DIR* d = ::opendir(folder.constData())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<QByteArray>{"caf\xe9.bin", "image.bin", "o\xff.bin"})) << "no mangled name";

    // A folder whose name is not UTF-8 takes the output too.
    const QByteArray subFolder = folder + "/d\xfe";
    ASSERT_EQ(::mkdir(subFolder.constData(), 0755), 0);
    r = run("caf\\351.bin", "d\\376/o.bin");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(::stat((subFolder + "/o.bin").constData(), &st), 0);
    ::unlink((subFolder + "/o.bin").constData());
    ::rmdir(subFolder.constData());

    r = run("missing\\351.bin", "o\\377.bin");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("chipwright-cli: missing\xe9.bin: No such file or directory\n"))
        << r.err.toStdString();
    // The temporary folder cannot remove names that Qt cannot convert.
    ::unlink(input.constData());
    ::unlink(output.constData());
}

TEST_F(CliFiles, APortNameThatIsNotUtf8OpensThatPort) {
    SimRunner sim;
    ASSERT_TRUE(sim.ok());
    const QByteArray link = encoded(dir.path()) + "/tty\xff";
    ASSERT_EQ(::symlink(encoded(sim.device()).constData(), link.constData()), 0);
    const QString script = QString("exec \"$0\" --port \"$(printf '%1/tty\\377')\" probe").arg(dir.path());
    const CliResult r = runCliThrough({"/bin/sh", "-c", script}, {}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Programmer is Ready !\n");
    ::unlink(link.constData());
}
