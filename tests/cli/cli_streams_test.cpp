// chipwright-cli as a script or a shell meets it: outputs refused before the chip is read, a reason on
// standard error for every failure, images through the shell's streams, and output that is lost.
#include "cliprocess.h"
#include "support/outputtargets.h"
#include "support/simrunner.h"
#include "support/tempconfig.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

constexpr int c2051 = 0;
constexpr int c2051Size = 2048;
const QString noPort = QStringLiteral("/dev/chipwright-no-such-port");

QByteArray image() {
    QByteArray bytes;
    for (int i = 0; i < 40; ++i)
        bytes.append(char(i * 7 + 3));
    return bytes;
}

QByteArray programmed() {
    return image() + QByteArray(c2051Size - image().size(), char(0xFF));
}

// 16-byte records of data from address 0, and the end record.
QByteArray hexOf(const QByteArray& data) {
    QByteArray text;
    for (int address = 0; address < data.size(); address += 16) {
        const QByteArray chunk = data.mid(address, 16);
        int sum = int(chunk.size()) + (address >> 8) + (address & 0xFF);
        for (const char c : chunk)
            sum += quint8(c);
        text += ':' + QByteArray::number(chunk.size(), 16).rightJustified(2, '0').toUpper() +
                QByteArray::number(address, 16).rightJustified(4, '0').toUpper() + "00" +
                chunk.toHex().toUpper() +
                QByteArray::number((0x100 - (sum & 0xFF)) & 0xFF, 16).rightJustified(2, '0').toUpper() + "\r\n";
    }
    return text + ":00000001FF\r\n";
}

// The lines of standard error that say why, in the tool's own voice (after a port's label, if any).
QStringList reasonLines(const QByteArray& err) {
    QStringList lines;
    for (const QString& line : QString::fromUtf8(err).split('\n'))
        if (line.contains("chipwright-cli: ")) lines << line;
    return lines;
}

class CliStreams : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        writeWholeFile(dir.filePath("image.hex"), hexOf(image()));
        writeWholeFile(dir.filePath("image.bin"), image());
    }

    TempConfigHome home;
    QTemporaryDir dir;
};

} // namespace

// An output that cannot be written is refused with exit 2 before the port is opened: the port named here does
// not exist, so opening it would end with exit 1.
TEST_F(CliStreams, ReadRefusesAnOutputItCannotWriteBeforeTouchingThePort) {
    ASSERT_TRUE(QDir(dir.path()).mkpath("folder.bin"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("locked"));
    shareWithUnprivilegedUser(dir.path());
    ::chmod(QFile::encodeName(dir.filePath("locked")).constData(), 0555);
    // Folder permissions do not bind root: a user without them is needed for the read-only folder.
    QStringList asUser;
    if (::geteuid() == 0 && QFileInfo::exists("/usr/bin/setpriv"))
        asUser = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    const bool unprivileged = ::geteuid() != 0 || !asUser.isEmpty();
    struct Case {
        QStringList arguments;
        const char* err;
        bool needsUnprivileged = false;
    };
    const std::vector<Case> cases = {
        {{"read", "locked/out.bin"}, "locked/out.bin: Permission denied", true},
        {{"read", "folder.bin"}, "folder.bin: Is a directory"},
        {{"read", "missing/out.hex"}, "missing/out.hex: the folder"},
        {{"read", "/proc/chipwright.bin"}, "/proc/chipwright.bin: "},
        // Each port's own file is checked: the second one's name is a folder.
        {{"--port", "/dev/chipwright-no-such-port-2", "read", "folder.bin"}, "folder-chipwright-no-such-port-2.bin: Is a directory"},
        {{"--port", "/dev/chipwright-no-such-port-2", "read", "/dev/stdout"}, "writes a file per port, not /dev/stdout"},
    };
    ASSERT_TRUE(QDir(dir.path()).mkpath("folder-chipwright-no-such-port-2.bin"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        if (c.needsUnprivileged && !unprivileged) continue;
        const CliResult r = runCliThrough(c.needsUnprivileged ? asUser : QStringList{},
                                          QStringList{"--port", noPort, "--chip", "0"} + c.arguments, dir.path());
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("cannot open the port")) << r.err.toStdString();
    }
    ::chmod(QFile::encodeName(dir.filePath("locked")).constData(), 0755);
    EXPECT_EQ(QDir(dir.filePath("locked")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

// Every exit 1 says why on standard error in one line of the tool's own, quiet or not, on one port or
// several; standard output keeps the log lines.
TEST_F(CliStreams, EveryFailureSaysWhyOnStandardError) {
    struct Case {
        const char* name;
        QStringList simOptions;
        QStringList arguments;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"verify mismatch", {"--corrupt", "0x5"}, {"verify", "image.hex"}, "Verify Fail ! Fail ID :000005H"},
        {"quiet verify mismatch", {"--corrupt", "0x5"}, {"-q", "verify", "image.hex"}, "Verify Fail !"},
        {"auto whose verify fails", {"--corrupt", "0x5"}, {"auto", "image.bin"}, "Verify Fail !"},
        {"program failure reply", {"--fail-program"}, {"program", "image.hex"}, "Program Fail ! Please Check!"},
        {"silent erase", {"--silence-after", "0"}, {"erase"}, "Error ! Please Check The Connection Whether OK ! Or Check"},
        {"silent probe", {"--silence-after", "0"}, {"probe"}, "Programmer Not Found !"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRunner sim(c.simOptions, {{c2051, programmed()}});
        ASSERT_TRUE(sim.ok());
        const CliResult r =
            runCli(QStringList{"--port", sim.device(), "--chip", "0"} + c.arguments, dir.path());
        EXPECT_EQ(r.exitCode, 1);
        const QStringList reasons = reasonLines(r.err);
        ASSERT_EQ(reasons.size(), 1) << r.err.toStdString();
        EXPECT_TRUE(reasons[0].startsWith("chipwright-cli: ")) << reasons[0].toStdString();
        EXPECT_TRUE(reasons[0].contains(c.reason)) << reasons[0].toStdString();
    }

    // Two programmers, one of which fails: that one's reason, after its label.
    SimRunner good({}, {{c2051, programmed()}});
    SimRunner bad({"--corrupt", "0x5"}, {{c2051, programmed()}});
    ASSERT_TRUE(good.ok() && bad.ok());
    const CliResult r =
        runCli({"--port", good.device(), "--port", bad.device(), "--chip", "0", "verify", "image.hex"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    const QStringList reasons = reasonLines(r.err);
    ASSERT_EQ(reasons.size(), 1) << r.err.toStdString();
    const QString badLabel = bad.device().mid(QStringLiteral("/dev/").size());
    EXPECT_TRUE(reasons[0].startsWith('[' + badLabel + "] chipwright-cli: Verify Fail !"))
        << reasons[0].toStdString();
}

// Intel HEX from a stream is known by its first record, after a byte-order mark and blank lines; binary by
// bytes that no text holds; other text is refused rather than programmed as binary.
TEST_F(CliStreams, StreamInputIsRecognisedOrRefusedWithAHint) {
    const QByteArray hex = hexOf(image());
    struct Case {
        const char* name;
        QByteArray input;
        QStringList options;
        bool loads; // as image() (else refused with exit 2)
    };
    const std::vector<Case> cases = {
        {"plain HEX", hex, {}, true},
        {"HEX after a byte-order mark", "\xEF\xBB\xBF" + hex, {}, true},
        {"HEX after blank lines", "\r\n\n  \t\r\n" + hex, {}, true},
        {"HEX after both", "\xEF\xBB\xBF\n\n" + hex, {}, true},
        {"binary", image(), {}, true},
        {"binary said so", image(), {"--format", "bin"}, true},
        {"text", "firmware version 1.2\n", {}, false},
        {"text after a byte-order mark", "\xEF\xBB\xBFhello\n", {}, false},
        {"UTF-8 text", "gr\xC3\xBC\xC3\x9F" "e\n", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult r =
            runCli(QStringList{"--chip", "0"} + c.options + QStringList{"convert", "-", "out.bin"}, dir.path(), c.input);
        if (c.loads) {
            EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
            EXPECT_EQ(readWholeFile(dir.filePath("out.bin")), programmed());
        } else {
            EXPECT_EQ(r.exitCode, 2);
            EXPECT_TRUE(r.err.contains("standard input: neither Intel HEX") && r.err.contains("--format hex|bin"))
                << r.err.toStdString();
        }
        QFile::remove(dir.filePath("out.bin"));
    }

    // Text said to be binary is taken as binary.
    const CliResult r = runCli({"--chip", "0", "--format", "bin", "convert", "-", "out.bin"}, dir.path(), "AB");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(readWholeFile(dir.filePath("out.bin")).startsWith("AB\xFF"));
}

// /dev/stdin, /dev/stdout, /dev/fd/N and the shell's <(...) and >(...) are streams, read and written as such.
TEST_F(CliStreams, TheShellsStreamNamesWorkForInputAndOutput) {
    const QByteArray dumped = hexOf(programmed());
    struct Case {
        const char* script; // "$@": the tool and its first options
        QByteArray input;
        const char* file; // where the output lands ("": standard output)
        QByteArray expected;
    };
    const std::vector<Case> cases = {
        {R"("$@" convert /dev/stdin out.bin)", hexOf(image()), "out.bin", programmed()},
        {R"("$@" convert /dev/fd/0 out.bin)", image(), "out.bin", programmed()},
        {R"("$@" convert image.hex /dev/stdout)", {}, "", dumped},
        {R"("$@" --format bin convert image.hex /dev/fd/1)", {}, "", programmed()},
        {R"("$@" convert image.bin /dev/fd/3 3>out.hex)", {}, "out.hex", dumped},
        {R"("$@" convert <(cat image.hex) out.bin)", {}, "out.bin", programmed()},
        {R"("$@" convert image.bin >(cat > out.hex); wait $!)", {}, "out.hex", dumped},
        {R"("$@" convert /proc/self/fd/0 out.bin < image.bin)", {}, "out.bin", programmed()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        QFile::remove(dir.filePath("out.bin"));
        QFile::remove(dir.filePath("out.hex"));
        const CliResult r =
            runCliThrough({"/bin/bash", "-c", c.script, "bash"}, {"--chip", "0"}, dir.path(), c.input);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(*c.file ? readWholeFile(dir.filePath(c.file)) : r.out, c.expected);
    }
}

// Output that does not arrive is a failure the exit code tells, with the reason; the chip's own work is done
// all the same.
TEST_F(CliStreams, LostStandardOutputEndsNonZeroWithItsReason) {
    SimRunner sim;
    ASSERT_TRUE(sim.ok());
    struct Case {
        const char* redirect;
        QStringList arguments;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {">/dev/full", {"--port", sim.device(), "--chip", "0", "program", "image.hex"},
         "cannot write standard output: No space left on device"},
        {">&-", {"--port", sim.device(), "--chip", "0", "program", "image.hex"},
         "cannot write standard output: Bad file descriptor"},
        {">/dev/full", {"--chip", "0", "read", "-", "--port", sim.device()}, "standard output: No space left on device"},
        {">/dev/full", {"--help"}, "cannot write standard output: No space left on device"},
        {">/dev/full", {"chips"}, "cannot write standard output: No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.redirect + (' ' + c.arguments.join(' ')).toStdString());
        const CliResult erased = runCli({"--port", sim.device(), "--chip", "0", "erase"});
        ASSERT_EQ(erased.exitCode, 0) << erased.err.toStdString();
        const CliResult r = runCliThrough({"/bin/sh", "-c", QStringLiteral("exec \"$@\" %1").arg(c.redirect), "sh"},
                                          c.arguments, dir.path());
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(reasonLines(r.err).size(), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.reason)) << r.err.toStdString();
        if (c.arguments.contains("program")) {
            EXPECT_EQ(sim.memory(c2051), programmed()) << "the chip was programmed";
        }
    }
}

// A record whose checksum is wrong loads as the window loads it, with one warning that names its line.
TEST_F(CliStreams, AWrongChecksumLoadsWithOneWarningNamingTheLine) {
    QList<QByteArray> lines = hexOf(image()).split('\n');
    lines[1].replace(lines[1].size() - 3, 2, lines[1].mid(lines[1].size() - 3, 2) == "00" ? "01" : "00");
    lines[2].replace(lines[2].size() - 3, 2, lines[2].mid(lines[2].size() - 3, 2) == "00" ? "01" : "00");
    const QByteArray broken = lines.join('\n');
    writeWholeFile(dir.filePath("broken.hex"), broken);
    struct Case {
        QStringList arguments;
        QByteArray input;
        const char* name;
    };
    for (const Case& c : std::vector<Case>{{{"convert", "broken.hex", "out.bin"}, {}, "broken.hex"},
                                           {{"convert", "-", "out.bin"}, broken, "standard input"}}) {
        SCOPED_TRACE(c.name);
        const CliResult r = runCli(QStringList{"--chip", "0"} + c.arguments, dir.path(), c.input);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(readWholeFile(dir.filePath("out.bin")), programmed());
        EXPECT_EQ(reasonLines(r.err),
                  QStringList{QStringLiteral("chipwright-cli: warning: %1: line 2: the record's checksum does not "
                                             "match; loaded as it stands")
                                  .arg(c.name)});
    }
    const CliResult r = runCli({"--chip", "0", "convert", "image.hex", "out.bin"}, dir.path());
    EXPECT_EQ(r.err, "") << "a file whose checksums match loads without a word";
}

// ./x and ../x are paths from the current folder, for a run and for a probe alike; --baud changes the rate
// for the run only.
TEST_F(CliStreams, PortsFromTheCurrentFolderAndALineRateForOneRun) {
    SimRunner sim;
    ASSERT_TRUE(sim.ok());
    ASSERT_TRUE(QDir(dir.path()).mkpath("work"));
    ASSERT_TRUE(QFile::link(sim.device(), dir.filePath("programmer")));
    struct Case {
        QStringList arguments;
        const char* workDir;
        QByteArray out;
    };
    const std::vector<Case> cases = {
        {{"--port", "./programmer", "probe"}, "", "Programmer is Ready !\n"},
        {{"--port", "../programmer", "probe"}, "work", "Programmer is Ready !\n"},
        {{"--port", "./programmer", "--baud", "19200", "probe"}, "", "Programmer is Ready !\n"},
        {{"--port", "./programmer", "--baud", "250000", "probe"}, "", "Programmer is Ready !\n"},
        {{"ports", "--probe", "./programmer"}, "", "./programmer  programmer: answered 02\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const CliResult r = runCli(c.arguments, dir.filePath(c.workDir));
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, c.out);
    }
    // Not below /dev: no such device there, and the name says so.
    const CliResult r = runCli({"--port", "./programmer", "probe"}, dir.filePath("work"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("cannot open the port ./programmer")) << r.err.toStdString();
    EXPECT_FALSE(QDir(home.path()).exists("chipwright")) << "nothing saved";
}
