// chipwright-cli as a script uses it: against the simulator, through its exit codes, output lines and files.
#include "cliprocess.h"
#include "support/ptypair.h"
#include "support/simrunner.h"
#include "support/tempconfig.h"

#include "serial/comport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace {

constexpr int c2051 = 0; // AT89C2051: 2048 bytes
constexpr int c2051Size = 2048;

// 40 bytes: two whole blocks and half a third, so the fill shows after the data.
QByteArray image() {
    QByteArray bytes;
    for (int i = 0; i < 40; ++i)
        bytes.append(char(i * 7 + 3));
    return bytes;
}

QByteArray padded(const QByteArray& data, int size, char fill) {
    return data + QByteArray(size - data.size(), fill);
}

// Intel HEX as the Save writer produces it, built here byte by byte: 16-byte data records, then the end
// record, each line ending in CR LF.
QByteArray expectedHex(const QByteArray& data) {
    QByteArray text;
    for (int address = 0; address < data.size(); address += 16) {
        const QByteArray chunk = data.mid(address, 16);
        int sum = chunk.size() + (address >> 8) + (address & 0xFF);
        for (const char c : chunk)
            sum += quint8(c);
        text += ':' + QByteArray::number(chunk.size(), 16).rightJustified(2, '0').toUpper() +
                QByteArray::number(address, 16).rightJustified(4, '0').toUpper() + "00" +
                chunk.toHex().toUpper() +
                QByteArray::number((0x100 - (sum & 0xFF)) & 0xFF, 16).rightJustified(2, '0').toUpper() +
                "\r\n";
    }
    return text + ":00000001FF\r\n";
}

const QStringList programLog = {"Programming Now ...... Please Wait !", "Program Succssed!"};
const QStringList verifyLog = {"Verifying Now ...... Please Wait !", "Verify Succssed !"};

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        hexFile = dir.filePath("image.hex");
        binFile = dir.filePath("image.bin");
        writeWholeFile(hexFile, expectedHex(image()));
        writeWholeFile(binFile, image());
    }

    // chipwright-cli --port <sim> --chip 0 <arguments>
    CliResult onChip(const SimRunner& sim, const QStringList& arguments, const QByteArray& input = {}) {
        return runCli(QStringList{"--port", sim.device(), "--chip", QString::number(c2051)} + arguments,
                      dir.path(), input);
    }

    TempConfigHome home;
    QTemporaryDir dir;
    QString hexFile;
    QString binFile;
};

TEST_F(Cli, EveryProgrammerCommandDoesItsWorkPrintsTheLogLinesAndExitsZero) {
    // The simulator's own reply gap: the program exchange's last 03 (asked before the end frame arrived) and
    // its 07 must reach the host in separate notifications, and a gap of a few ms does not keep them apart on
    // a loaded machine (the host then takes only the 03, as the protocol says, and the watchdog fires).
    SimRunner sim;
    ASSERT_TRUE(sim.ok());
    const QByteArray programmed = padded(image(), c2051Size, char(0xFF));

    CliResult r = onChip(sim, {"probe"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, logText({"Programmer is Ready !"}));

    r = onChip(sim, {"program", hexFile});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, logText(programLog));
    EXPECT_EQ(r.err, "") << "no progress bar when standard error is not a terminal";
    EXPECT_EQ(sim.memory(c2051), programmed);

    r = onChip(sim, {"verify", binFile});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, logText(verifyLog));

    // Read writes exactly what the window's Save writes for the read dump, in the format the name asks for.
    for (const QString name : {"read.hex", "READ.HEX", "read.bin", "Read.Bin"}) {
        r = onChip(sim, {"read", name});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, logText({"Reading Now ...... Please Wait !", "Read Finish !"}));
        const bool hex = name.endsWith("hex", Qt::CaseInsensitive);
        EXPECT_EQ(readWholeFile(dir.filePath(name)), hex ? expectedHex(programmed) : programmed)
            << name.toStdString();
    }

    r = onChip(sim, {"--lock", "LB2", "lock"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, logText({"Lock Succssed !"}));
    EXPECT_EQ(sim.lockLevel(c2051), 2);

    r = onChip(sim, {"erase"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, logText({"Erasing Now ...... Please Wait !", "Earse Succssed !"}));
    EXPECT_EQ(sim.memory(c2051), QByteArray(c2051Size, char(0xFF)));
    EXPECT_EQ(sim.lockLevel(c2051), 0);

    r = onChip(sim, {"auto", binFile, "--lock", "3"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, logText(autoLog)) << r.err.toStdString();
    EXPECT_EQ(sim.memory(c2051), programmed);
    EXPECT_EQ(sim.lockLevel(c2051), 3);

    // The other chips were never touched: the chip index travelled in every command.
    EXPECT_EQ(sim.memory(6), QByteArray(8192, char(0xFF)));
}

TEST_F(Cli, QuietRunsPrintNothingOnSuccessAndTheLogOnFailure) {
    SimRunner sim({"--corrupt", "0x21"}, {{c2051, padded(image(), c2051Size, char(0xFF))}});
    ASSERT_TRUE(sim.ok());
    CliResult r = onChip(sim, {"--quiet", "program", hexFile});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    r = onChip(sim, {"-q", "verify", hexFile});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.contains("Verify Fail !\n Fail ID :000021H    Fail Data :EAH\n"))
        << r.err.toStdString();
}

// Every way an operation fails ends with exit 1 and the window's own texts.
TEST_F(Cli, FailedOperationsExitOneWithTheLogLinesOfTheFailure) {
    const QByteArray programmed = padded(image(), c2051Size, char(0xFF));
    struct Case {
        const char* name;
        QStringList simOptions;
        QStringList arguments;
        QStringList log;
    };
    const std::vector<Case> cases = {
        {"verify mismatch",
         {"--corrupt", "0x5"},
         {"verify", "image.hex"},
         {"Verifying Now ...... Please Wait !", "Verify Fail !", " Fail ID :000005H    Fail Data :26H"}},
        {"program failure reply",
         {"--fail-program"},
         {"program", "image.hex"},
         {"Programming Now ...... Please Wait !", "Program Fail !  Please Check!"}},
        {"silent erase",
         {"--silence-after", "0"},
         {"erase"},
         {"Erasing Now ...... Please Wait !", connectionErrorLine}},
        {"silent probe", {"--silence-after", "0"}, {"probe"}, {"Programmer  Not  Found !"}},
        // The Lock reply has no watchdog in the sequencer; the tool waits a bounded time and reports it
        // alike.
        {"silent lock", {"--silence-after", "0"}, {"lock"}, {connectionErrorLine}},
        {"read stalls after the command and three requests",
         {"--silence-after", "12"},
         {"read", "out.bin"},
         {"Reading Now ...... Please Wait !", connectionErrorLine}},
        // Command, three data frames, end frame, then the verification's command, three requests and stop.
        {"auto whose lock is not answered",
         {"--silence-after", QString::number(3 + 3 * 18 + 18 + 15)},
         {"auto", "image.bin"},
         autoLog.mid(0, 5) + QStringList{connectionErrorLine}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRunner sim(c.simOptions, {{c2051, programmed}});
        ASSERT_TRUE(sim.ok());
        const CliResult r = onChip(sim, c.arguments);
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        EXPECT_EQ(r.out, logText(c.log));
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out.bin"))) << "a failed read writes nothing";
}

TEST_F(Cli, APortThatDoesNotOpenIsNamedWithItsReason) {
    const CliResult r = runCli({"--port", "/dev/chipwright-no-such-port", "--chip", "0", "erase"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(
        r.err.contains("cannot open the port /dev/chipwright-no-such-port: No such file or directory"))
        << r.err.toStdString();
}

// Usage errors and file problems exit 2 before the programmer is asked: the port given here does not exist,
// so any attempt to open it would end with exit 1 instead.
TEST_F(Cli, UsageErrorsAndFileProblemsExitTwoBeforeThePortIsOpened) {
    writeWholeFile(dir.filePath("big.bin"), QByteArray(c2051Size + 1, '\x55'));
    writeWholeFile(dir.filePath("empty.bin"), QByteArray());
    writeWholeFile(dir.filePath("high.hex"),
                   expectedHex(QByteArray(16, 0)).replace(":10000000", ":10080000"));
    writeWholeFile(dir.filePath("broken.hex"), "this is not a record\r\n");
    writeWholeFile(dir.filePath("image.txt"), image());
    const QByteArray tooLarge =
        "Open File Error ! AT89C2051 Cant Be Program 2K Active Byte Only ! Please Choose Again !";
    const QByteArray openError = "Open File Error !  Please Choose Again !";
    const QByteArray noFile = "Please Open *.Hex or *.Bin File Firstly !";
    struct Case {
        QStringList arguments;
        QByteArray err;
    };
    const std::vector<Case> cases = {
        {{}, "no command given"},
        {{"flash"}, "unknown command \"flash\""},
        {{"program"}, "program takes one argument, not 0"},
        {{"erase", "image.hex"}, "erase takes no argument, not 1"},
        {{"convert", "image.hex"}, "convert takes two arguments, not 1"},
        {{"--chip", "AT89C9999", "erase"}, "--chip: \"AT89C9999\" is neither a chip type"},
        {{"--chip", "8", "erase"}, "--chip: \"8\""},
        {{"--lock", "LB4", "lock"}, "--lock: \"LB4\" is not 0-3, LB1-LB3 or none"},
        {{"--fill", "AA", "erase"}, "--fill: \"AA\" is neither FF nor 00"},
        {{"--speed", "9600", "erase"}, "unknown option \"--speed\""},
        {{"erase", "--port"}, "--port needs a value"},
        {{"program", "image.txt"}, "image.txt: the name must end in .hex, .ihx, .ihex or .bin"},
        {{"read", "out.txt"}, "out.txt: the name must end in .hex, .ihx, .ihex or .bin"},
        {{"read", "no-such-folder/out.hex"}, "does not exist"},
        {{"program", "missing.hex"}, openError},
        {{"verify", "broken.hex"}, openError},
        {{"program", "big.bin"}, tooLarge},
        {{"auto", "high.hex"}, tooLarge},
        {{"program", "empty.bin"}, noFile},
        {{"convert", "empty.bin", "out.hex"}, noFile},
        {{"convert", "big.bin", "out.hex"}, tooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const CliResult r =
            runCli(QStringList{"--port", "/dev/chipwright-no-such-port", "--chip", "AT89c2051"} + c.arguments,
                   dir.path());
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out.hex")));
}

TEST_F(Cli, ConvertWritesWhatTheWindowsSaveWritesAfterAnOpen) {
    struct Case {
        QStringList arguments;
        QString output;
        QByteArray expected;
    };
    const std::vector<Case> cases = {
        {{"convert", "image.hex", "out.bin"}, "out.bin", padded(image(), c2051Size, char(0xFF))},
        {{"convert", "image.bin", "out.HEX"}, "out.HEX", expectedHex(padded(image(), c2051Size, char(0xFF)))},
        {{"--fill", "00", "convert", "image.hex", "zero.bin"}, "zero.bin", padded(image(), c2051Size, 0)},
        // The whole capacity of the chosen chip is dumped.
        {{"--chip", "AT89S53", "convert", "image.bin", "s53.bin"},
         "s53.bin",
         padded(image(), 12288, char(0xFF))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const CliResult r = runCli(QStringList{"--chip", "0"} + c.arguments, dir.path());
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(readWholeFile(dir.filePath(c.output)), c.expected);
    }
}

// The tool has no previous kind: the ending alone decides, the same way for input and output names, and an
// ending that says nothing is refused rather than guessed.
TEST_F(Cli, HexAndBinaryEndingsInAnyCaseChooseTheFormatOfInputAndOutput) {
    const QByteArray hexText = expectedHex(image());
    const QByteArray dumpedBin = padded(image(), c2051Size, char(0xFF));
    const QByteArray dumpedHex = expectedHex(dumpedBin);
    struct Case {
        const char* input;
        const char* output;
        std::optional<QByteArray> expected; // nothing: refused with exit 2
        const char* format = "";
    };
    const std::vector<Case> cases = {
        {"a.hex", "o.bin", dumpedBin},
        {"a.HEX", "o.BIN", dumpedBin},
        {"a.hEx", "o.bIn", dumpedBin},
        {"a.ihx", "o.ihx", dumpedHex},
        {"a.IHX", "o.IHEX", dumpedHex},
        {"a.ihex", "o.Hex", dumpedHex},
        {"a.iHeX", "o.bin", dumpedBin},
        {"b.bin", "o.hex", dumpedHex},
        {"b.BiN", "o.ihx", dumpedHex},
        {"a.img", "o.bin", std::nullopt},
        {"a.hex", "o.txt", std::nullopt},
        {"a.hex.txt", "o.bin", std::nullopt},
        // --format names the format where the name does not; a name that does still decides.
        {"b.txt", "o.img", dumpedBin, "bin"},
        {"b.img", "o.txt", dumpedBin, "bin"},
        {"a.txt", "o.bin", dumpedBin, "hex"},
        {"b.bin", "o.dat", dumpedHex, "hex"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.input) + " -> " + c.output + " " + c.format);
        const QString input = QLatin1String(c.input);
        writeWholeFile(dir.filePath(input), input.startsWith('b') ? image() : hexText);
        QFile::remove(dir.filePath(c.output));
        QStringList arguments{"--chip", "0", "convert", input, c.output};
        if (*c.format) arguments << "--format" << c.format;
        const CliResult r = runCli(arguments, dir.path());
        if (!c.expected) {
            EXPECT_EQ(r.exitCode, 2);
            EXPECT_TRUE(r.err.contains("the name must end in .hex, .ihx, .ihex or .bin"))
                << r.err.toStdString();
            EXPECT_FALSE(QFileInfo::exists(dir.filePath(c.output)));
            continue;
        }
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(readWholeFile(dir.filePath(c.output)), *c.expected);
    }
}

// "-" is standard input or output. The image on standard output is byte for byte the file the same command
// writes, and the log lines move to standard error so they cannot mix with it.
TEST_F(Cli, PipesCarryTheImageByteExactAndKeepTheLogOffStandardOutput) {
    const QByteArray programmed = padded(image(), c2051Size, char(0xFF));
    SimRunner sim({}, {{c2051, programmed}});
    ASSERT_TRUE(sim.ok());
    const QByteArray readLog = logText({"Reading Now ...... Please Wait !", "Read Finish !"});

    struct ReadCase {
        QStringList arguments;
        const char* file;
    };
    for (const ReadCase& c : std::vector<ReadCase>{{{"read", "-"}, "read.hex"},
                                                   {{"--format", "bin", "read", "-"}, "read.bin"},
                                                   {{"--format", "hex", "read", "-"}, "read.ihx"}}) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const CliResult piped = onChip(sim, c.arguments);
        EXPECT_EQ(piped.exitCode, 0) << piped.err.toStdString();
        EXPECT_EQ(piped.err, readLog);
        const CliResult filed = onChip(sim, {"read", c.file});
        EXPECT_EQ(filed.exitCode, 0) << filed.err.toStdString();
        EXPECT_EQ(filed.out, readLog);
        EXPECT_EQ(piped.out, readWholeFile(dir.filePath(c.file)));
    }

    // Input that starts with ':' is HEX, anything else binary, unless --format says otherwise.
    QByteArray colonFirst = image();
    colonFirst[0] = ':';
    writeWholeFile(dir.filePath("colon.bin"), colonFirst);
    struct ConvertCase {
        QStringList options;
        QByteArray input;
        QStringList fileArguments; // the same conversion between files
        const char* file;
    };
    const std::vector<ConvertCase> cases = {
        {{}, expectedHex(image()), {"image.hex", "c1.hex"}, "c1.hex"},
        {{}, image(), {"image.bin", "c2.hex"}, "c2.hex"},
        {{"--format", "bin"}, image(), {"image.bin", "c3.bin"}, "c3.bin"},
        {{"--format", "bin"}, colonFirst, {"colon.bin", "c4.bin"}, "c4.bin"},
        {{"--format", "hex"}, expectedHex(image()), {"image.hex", "c5.hex"}, "c5.hex"},
    };
    for (const ConvertCase& c : cases) {
        SCOPED_TRACE((c.options + c.fileArguments).join(' ').toStdString());
        const CliResult piped = runCli(
            QStringList{"--chip", "0"} + c.options + QStringList{"convert", "-", "-"}, dir.path(), c.input);
        EXPECT_EQ(piped.exitCode, 0) << piped.err.toStdString();
        EXPECT_EQ(piped.err, "");
        const CliResult filed = runCli(QStringList{"--chip", "0", "convert"} + c.fileArguments, dir.path());
        EXPECT_EQ(filed.exitCode, 0) << filed.err.toStdString();
        EXPECT_EQ(piped.out, readWholeFile(dir.filePath(c.file)));
    }

    // The image from standard input programs and verifies the chip.
    CliResult r = onChip(sim, {"erase"});
    ASSERT_EQ(sim.memory(c2051), QByteArray(c2051Size, char(0xFF)));
    r = onChip(sim, {"program", "-"}, expectedHex(image()));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, logText(programLog));
    EXPECT_EQ(sim.memory(c2051), programmed);
    r = onChip(sim, {"verify", "-"}, image());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, logText(verifyLog));

    // Nothing on standard input is no file, as an empty file is.
    r = runCli({"--chip", "0", "convert", "-", "-"}, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.contains("Please Open *.Hex or *.Bin File Firstly !")) << r.err.toStdString();
}

// ports --probe: the simulator answers as a programmer, a silent line stays silent, a port another program
// holds is busy, a missing one is named with its reason; all probed at once, so silence costs one wait, not
// one per port. A stable by-id style link to the device is taken by --port like any path.
TEST_F(Cli, ProbingFindsTheProgrammerAmongSilentBusyAndMissingPortsWithinTheBound) {
    SimRunner sim;
    ASSERT_TRUE(sim.ok());
    PtyPair silent, silent2, busy;
    ASSERT_TRUE(silent.ok() && silent2.ok() && busy.ok());
    TComPort holder;
    holder.SetPort(busy.slavePath());
    holder.Connect();

    QElapsedTimer clock;
    clock.start();
    CliResult r = runCli({"ports", "--probe", silent.slavePath(), sim.device(), busy.slavePath(),
                          silent2.slavePath(), "/dev/chipwright-no-such-port"});
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << r.out.toStdString();
    auto says = [](const QString& line, const QString& port, const char* what) {
        return line.startsWith(port + ' ') && line.endsWith(QLatin1String(what));
    };
    EXPECT_TRUE(says(lines[0], silent.slavePath(), "  silent")) << lines[0].toStdString();
    EXPECT_TRUE(says(lines[1], sim.device(), "  programmer: answered 02")) << lines[1].toStdString();
    EXPECT_TRUE(says(lines[2], busy.slavePath(), "  busy: another program holds it"))
        << lines[2].toStdString();
    EXPECT_TRUE(says(lines[3], silent2.slavePath(), "  silent")) << lines[3].toStdString();
    EXPECT_TRUE(says(lines[4], "/dev/chipwright-no-such-port", "cannot be probed: No such file or directory"))
        << lines[4].toStdString();
    EXPECT_LT(elapsed, 1500) << "the whole scan, start-up of the tool included";
    // The probe reached the silent lines, on each.
    EXPECT_EQ(silent.receive(3), QByteArray("\xFA\x00\x00", 3));
    EXPECT_EQ(silent2.receive(3), QByteArray("\xFA\x00\x00", 3));
    holder.Disconnect();

    r = runCli({"ports", "--probe", silent.slavePath()});
    EXPECT_EQ(r.exitCode, 1) << "no programmer answered";

    const QString byId = dir.filePath("usb-Chipwright_Simulator_0001-if00-port0");
    ASSERT_TRUE(QFile::link(sim.device(), byId));
    r = runCli({"--port", byId, "probe"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, logText({"Programmer is Ready !"}));
}

// The defaults are the window's saved choices, read from the same stores; the tool never writes them.
TEST_F(Cli, DefaultsComeFromTheWindowsSettingsWhichStayAsTheyWere) {
    SimRunner sim;
    ASSERT_TRUE(sim.ok());
    const QString buildDir =
        QFileInfo(qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-cli").canonicalPath();
    const QString appValues =
        home.registry() + "/HKEY_CURRENT_USER" + buildDir + "/Program.ini/HexFileOpen/values.reg";
    const QString portValues =
        home.registry() + "/HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE/Software/HexFileOpenSet/ComPort/values.reg";
    QDir().mkpath(QFileInfo(appValues).path());
    QDir().mkpath(QFileInfo(portValues).path());
    writeWholeFile(appValues, "\"DownLoadset.Fill\"=\"0\"\n\"ICtypeGroup.ItemIndex\"=\"0\"\n"
                              "\"LockBit.ItemIndex\"=\"2\"\n\"ComSeted\"=\"1\"\n");
    writeWholeFile(portValues, "\"Port\"=\"" + sim.device().toUtf8() + "\"\n\"BaudRate\"=\"9600\"\n");
    auto snapshot = [&] {
        std::map<QString, QByteArray> files;
        for (QDirIterator it(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString path = it.next();
            files[path] = readWholeFile(path);
        }
        return files;
    };
    const auto before = snapshot();

    CliResult r = runCli({"convert", "image.hex", "out.bin"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(readWholeFile(dir.filePath("out.bin")), padded(image(), c2051Size, 0)) << "chip 0, fill 00";

    r = runCli({"program", "image.hex"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, logText(programLog));
    // The fill byte 00 completes the last block sent; the blocks after it stay erased.
    EXPECT_EQ(sim.memory(c2051), padded(padded(image(), 48, 0), c2051Size, char(0xFF)));

    r = runCli({"lock"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(sim.lockLevel(c2051), 2);

    // The options win over the saved choices.
    r = runCli({"--chip", "AT89S52", "--lock", "lb1", "lock"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(sim.lockLevel(c2051), 2);
    EXPECT_EQ(sim.lockLevel(6), 1);

    EXPECT_EQ(snapshot(), before);
}

TEST_F(Cli, ASavedChipOutsideTheCatalogueAsksForChip) {
    const QString buildDir =
        QFileInfo(qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-cli").canonicalPath();
    const QString appValues =
        home.registry() + "/HKEY_CURRENT_USER" + buildDir + "/Program.ini/HexFileOpen/values.reg";
    QDir().mkpath(QFileInfo(appValues).path());
    writeWholeFile(appValues, "\"ICtypeGroup.ItemIndex\"=\"9\"\n");
    const CliResult r = runCli({"convert", "image.hex", "out.bin"}, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("the saved chip index 9 is not 0-7; choose a chip with --chip"))
        << r.err.toStdString();
}

TEST_F(Cli, ChipsPortsAndHelpNeedNoProgrammer) {
    CliResult r = runCli({"chips"});
    EXPECT_EQ(r.exitCode, 0);
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 8);
    EXPECT_TRUE(lines[0].startsWith("0  AT89C2051 ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[4].contains("AT89C55") && lines[4].contains("20480 bytes")) << lines[4].toStdString();
    EXPECT_TRUE(lines[7].startsWith("7  AT89S53 ")) << lines[7].toStdString();

    r = runCli({"ports"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();

    r = runCli({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    for (const char* word : {"probe",       "erase",     "program FILE",   "verify FILE",   "read OUT",
                             "lock",        "auto FILE", "convert IN OUT", "ports",         "chips",
                             "--port",      "--chip",    "--lock",         "--fill",        "--quiet",
                             "Exit status", "--format",  "--trace",        "ports --probe", ".ihx"})
        EXPECT_TRUE(r.out.contains(word)) << word;
}

} // namespace
