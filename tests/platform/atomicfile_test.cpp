// The one file writer of the program, against every kind of target a user can name: it writes links through,
// never replaces a FIFO or a device, keeps modes and the umask, and leaves the old content whole whenever a
// write fails (a full filesystem, a size limit, a folder without write permission).
#include "platform/atomicfile.h"
#include "support/outputtargets.h"
#include "support/tempconfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <functional>

#include <gtest/gtest.h>

using platform::writeFileContent;

namespace {

const QByteArray oldContent("old content\n");
const QByteArray newContent("the new content, longer than the old\n");

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

struct stat lstatOf(const QString& path) {
    struct stat st {};
    ::lstat(encoded(path).constData(), &st);
    return st;
}

mode_t modeOf(const QString& path) {
    return lstatOf(path).st_mode & 07777;
}

void makeLink(const QString& target, const QString& link) {
    ASSERT_EQ(::symlink(encoded(target).constData(), encoded(link).constData()), 0);
}

// The names in folder other than the given ones: a failed write must leave no temporary file behind.
QStringList leftovers(const QString& folder, const QStringList& expected) {
    QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : expected)
        names.removeAll(name);
    return names;
}

// Restores the umask when the test ends.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
    ~UmaskScope() { ::umask(previous_); }

private:
    mode_t previous_;
};

} // namespace

TEST(FileWriter, RegularFilesAndLinksToThem) {
    QTemporaryDir dir;
    const UmaskScope umask(027);
    const QString folder = dir.path();

    // A new file follows the umask.
    const QString fresh = folder + "/new.bin";
    EXPECT_EQ(writeFileContent(fresh, newContent), QString());
    EXPECT_EQ(readWholeFile(fresh), newContent);
    EXPECT_EQ(modeOf(fresh), 0640u);

    // An existing file keeps its mode, whatever the umask says.
    struct Case {
        mode_t mode;
    };
    for (const Case& c : {Case{0600}, Case{0604}, Case{0664}, Case{0755}}) {
        const QString existing = folder + QString("/mode%1.bin").arg(c.mode, 0, 8);
        writeWholeFile(existing, oldContent);
        ASSERT_EQ(::chmod(encoded(existing).constData(), c.mode), 0);
        EXPECT_EQ(writeFileContent(existing, newContent), QString());
        EXPECT_EQ(readWholeFile(existing), newContent);
        EXPECT_EQ(modeOf(existing), c.mode) << std::oct << c.mode;
    }

    // A link (relative, through a second link) stays a link; its final target gets the content.
    QDir(folder).mkdir("dotfiles");
    const QString target = folder + "/dotfiles/values.reg";
    writeWholeFile(target, oldContent);
    ASSERT_EQ(::chmod(encoded(target).constData(), 0600), 0);
    makeLink("dotfiles/values.reg", folder + "/hop");
    makeLink("hop", folder + "/link.reg");
    EXPECT_EQ(writeFileContent(folder + "/link.reg", newContent), QString());
    EXPECT_TRUE(S_ISLNK(lstatOf(folder + "/link.reg").st_mode));
    EXPECT_TRUE(S_ISLNK(lstatOf(folder + "/hop").st_mode));
    EXPECT_EQ(readWholeFile(target), newContent);
    EXPECT_EQ(modeOf(target), 0600u);

    // A dangling link creates its target.
    makeLink("dotfiles/later.bin", folder + "/dangling");
    EXPECT_EQ(writeFileContent(folder + "/dangling", newContent), QString());
    EXPECT_TRUE(S_ISLNK(lstatOf(folder + "/dangling").st_mode));
    EXPECT_EQ(readWholeFile(folder + "/dotfiles/later.bin"), newContent);
    EXPECT_TRUE(leftovers(folder + "/dotfiles", {"values.reg", "later.bin"}).isEmpty());
}

TEST(FileWriter, SpecialFilesAreWrittenIntoOrRefusedNeverReplaced) {
    QTemporaryDir dir;
    const QString folder = dir.path();

    // A FIFO with a reader gets the bytes as a stream, directly or through a link.
    const QString fifo = folder + "/fifo";
    ASSERT_EQ(::mkfifo(encoded(fifo).constData(), 0600), 0);
    makeLink(fifo, folder + "/fifo-link.bin");
    for (const QString& name : {fifo, folder + "/fifo-link.bin"}) {
        // The writer refuses while no reader has the FIFO open.
        QString error;
        const QByteArray received = readFifoWhileWriting(
            fifo,
            [&] {
                error = writeFileContent(name, newContent);
                return error.isEmpty();
            },
            500, 2000);
        EXPECT_EQ(error, QString());
        EXPECT_EQ(received, newContent);
        EXPECT_TRUE(S_ISFIFO(lstatOf(fifo).st_mode));
    }

    // Nobody reads: refused at once instead of waiting for ever; the FIFO stays.
    EXPECT_EQ(writeFileContent(folder + "/fifo-link.bin", newContent),
              QString("No process reads from this FIFO"));
    EXPECT_TRUE(S_ISFIFO(lstatOf(fifo).st_mode));
    EXPECT_TRUE(S_ISLNK(lstatOf(folder + "/fifo-link.bin").st_mode));

    // A folder, a socket and a loop of links are refused and left as they are.
    QDir(folder).mkdir("sub");
    EXPECT_EQ(writeFileContent(folder + "/sub", newContent), QString("Is a directory"));
    const QString socketPath = folder + "/sock";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, encoded(socketPath).constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(writeFileContent(socketPath, newContent),
              QString("Not a regular file, a FIFO or a character device"));
    EXPECT_TRUE(S_ISSOCK(lstatOf(socketPath).st_mode));
    ::close(sock);
    makeLink("loop-b", folder + "/loop-a");
    makeLink("loop-a", folder + "/loop-b");
    EXPECT_EQ(writeFileContent(folder + "/loop-a", newContent), QString("Too many levels of symbolic links"));
    EXPECT_TRUE(leftovers(folder, {"fifo", "fifo-link.bin", "sub", "sock", "loop-a", "loop-b"}).isEmpty());
}

TEST(FileWriter, ACharacterDeviceOfTheTestsOwnIsWrittenIntoNotReplaced) {
    QTemporaryDir dir;
    // The test's own node for the null device: writing into it proves the writer opened it, replacing it
    // would turn it into a regular file.
    const QString device = dir.path() + "/null-device";
    if (::mknod(encoded(device).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here (" << std::strerror(errno) << "): needs root";
    makeLink(device, dir.path() + "/device-link.bin");
    for (const QString& name : {device, dir.path() + "/device-link.bin"}) {
        EXPECT_EQ(writeFileContent(name, newContent), QString()) << name.toStdString();
        EXPECT_TRUE(S_ISCHR(lstatOf(device).st_mode));
    }
    EXPECT_TRUE(S_ISLNK(lstatOf(dir.path() + "/device-link.bin").st_mode));
    EXPECT_TRUE(leftovers(dir.path(), {"null-device", "device-link.bin"}).isEmpty());
}

TEST(FileWriter, AFolderWithoutWritePermissionOverAWritableFile) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/locked";
    ASSERT_TRUE(QDir().mkpath(folder));
    shareWithUnprivilegedUser(dir.path());
    const QString writable = folder + "/writable.hex";
    const QString readOnly = folder + "/read-only.hex";
    writeWholeFile(writable,
                   oldContent + oldContent + oldContent); // longer than the new content: cut to size
    writeWholeFile(readOnly, oldContent);
    for (const QString& file : {writable, readOnly})
        ASSERT_EQ(::chown(encoded(file).constData(), unprivilegedUid(), static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(::chmod(encoded(writable).constData(), 0620), 0);
    ASSERT_EQ(::chmod(encoded(readOnly).constData(), 0444), 0);
    ASSERT_EQ(::chmod(encoded(folder).constData(), 0555), 0);
    const ino_t inode = lstatOf(writable).st_ino;

    // Each check is one exit code of the child: 0 when all held.
    const int code = runInUnprivilegedChild([&] {
        const UmaskScope umask(077);
        if (writeFileContent(writable, newContent) != QString()) return 1;
        if (writeFileContent(readOnly, newContent) != QString("Permission denied")) return 2;
        if (writeFileContent(folder + "/new.hex", newContent) != QString("Permission denied")) return 3;
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readWholeFile(writable), newContent);
    EXPECT_EQ(lstatOf(writable).st_ino, inode) << "written in place";
    EXPECT_EQ(modeOf(writable), 0620u);
    EXPECT_EQ(readWholeFile(readOnly), oldContent);
    EXPECT_TRUE(leftovers(folder, {"writable.hex", "read-only.hex"}).isEmpty());
    ::chmod(encoded(folder).constData(), 0755);
}

TEST(FileWriter, AFileSizeLimitFailsTheWriteAndKeepsTheOldFile) {
    // RLIMIT_FSIZE gives EFBIG for the bytes beyond it, as a full disk gives ENOSPC, without any privilege.
    QTemporaryDir dir;
    const QString file = dir.path() + "/out.bin";
    writeWholeFile(file, oldContent);
    shareWithUnprivilegedUser(dir.path());
    ::chmod(encoded(file).constData(), 0666);
    const QByteArray big(64 * 1024, 'x');
    const int code = runInUnprivilegedChild([&] {
        const rlimit limit{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
        if (writeFileContent(file, big) != QString("File too large")) return 1;
        if (writeFileContent(dir.path() + "/fresh.bin", big) != QString("File too large")) return 2;
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readWholeFile(file), oldContent);
    EXPECT_TRUE(leftovers(dir.path(), {"out.bin"}).isEmpty());
}

TEST(FileWriter, AFullFilesystemFailsTheWriteAndKeepsTheOldFile) {
    SmallTmpfs fs;
    if (!fs.mounted()) GTEST_SKIP() << fs.reason().toStdString();
    const QString file = fs.path() + "/out.hex";
    writeWholeFile(file, oldContent);
    fs.fill();
    // Small outputs too: the error shows only when the data is flushed, and must be caught there.
    for (const qsizetype size : {qsizetype(100), qsizetype(16 * 1024), qsizetype(200 * 1024)}) {
        EXPECT_EQ(writeFileContent(file, QByteArray(size, 'x')), QString("No space left on device")) << size;
        EXPECT_EQ(readWholeFile(file), oldContent);
    }
    EXPECT_TRUE(leftovers(fs.path(), {"out.hex", ".filler"}).isEmpty());
}

TEST(FileWriter, AFullFilesystemUnderAReadOnlyFolderKeepsTheFileWrittenInPlace) {
    // Written in place, the file's space is reserved before its first byte changes.
    SmallTmpfs fs;
    if (!fs.mounted()) GTEST_SKIP() << fs.reason().toStdString();
    const QString folder = fs.path() + "/locked";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = folder + "/mine.bin";
    writeWholeFile(file, oldContent);
    ASSERT_EQ(::chown(encoded(file).constData(), unprivilegedUid(), static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(::chmod(encoded(file).constData(), 0600), 0);
    ASSERT_EQ(::chmod(encoded(folder).constData(), 0555), 0);
    fs.fill();
    const int code = runInUnprivilegedChild([&] {
        const QString error = writeFileContent(file, QByteArray(200 * 1024, 'x'));
        return error == QString("No space left on device") ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readWholeFile(file), oldContent);
    ::chmod(encoded(folder).constData(), 0755);
}
