// The wire trace of chipwright-cli against the simulator's own log of the same exchange.
#include "cliprocess.h"
#include "support/simrunner.h"
#include "support/tempconfig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

struct TraceLine {
    double ms = 0;
    bool sent = false;
    QByteArray bytes;
    QString reading;
};

struct SimLine {
    bool in = false;
    QByteArray bytes;
    QString note;
};

// The trace's lines of bytes; its notes ("# ...") go to notes, when asked for.
std::vector<TraceLine> parseTrace(const QByteArray& text, QStringList& bad, QStringList* notes = nullptr) {
    static const QRegularExpression re(
        QStringLiteral(R"(^ *(\d+\.\d{3})  (->|<-)  ([0-9A-F]{2}(?: [0-9A-F]{2})*)  (.+)$)"));
    std::vector<TraceLine> lines;
    for (const QByteArray& raw : text.split('\n')) {
        if (raw.isEmpty()) continue;
        if (raw.startsWith("# ")) {
            if (notes) *notes << QString::fromUtf8(raw.mid(2));
            continue;
        }
        const QRegularExpressionMatch m = re.match(QString::fromUtf8(raw));
        if (!m.hasMatch()) {
            bad << QString::fromUtf8(raw);
            continue;
        }
        lines.push_back({m.captured(1).toDouble(), m.captured(2) == QLatin1String("->"),
                         QByteArray::fromHex(m.captured(3).toLatin1()), m.captured(4)});
    }
    return lines;
}

// chipwright-sim --verbose: "[  seconds] in  FA 00 00  probe", "[  seconds] out 02  ready".
std::vector<SimLine> parseSimLog(const QByteArray& text) {
    static const QRegularExpression re(
        QStringLiteral(R"(^\[ *[\d.]+\] (in |out) ([0-9A-F]{2}(?: [0-9A-F]{2})*)  (.*)$)"));
    std::vector<SimLine> lines;
    for (const QByteArray& raw : text.split('\n')) {
        const QRegularExpressionMatch m = re.match(QString::fromUtf8(raw));
        if (m.hasMatch())
            lines.push_back({m.captured(1) == QLatin1String("in "),
                             QByteArray::fromHex(m.captured(2).toLatin1()), m.captured(3)});
    }
    return lines;
}

// What the simulator calls a frame from the host, in the trace's words: the two readings are made apart, by
// the host and by the programmer's side, and must agree.
QString simWordsForTrace(const QString& note) {
    static const QRegularExpression dataBlock(QStringLiteral(R"(^data block (\d+)$)"));
    if (const auto m = dataBlock.match(note); m.hasMatch())
        return QStringLiteral("data frame ") + m.captured(1) + ',';
    if (note == QLatin1String("stop")) return QStringLiteral("stop frame");
    if (note == QLatin1String("block request")) return QStringLiteral("block request");
    if (note == QLatin1String("end frame")) return QStringLiteral("end frame");
    if (note == QLatin1String("probe")) return QStringLiteral("probe");
    return QStringLiteral("command ") + note.section(QLatin1Char(' '), 0, 0);
}

TEST(WireTrace, AnAutoRunsTraceMatchesTheBytesTheSimulatorLoggedLineByLine) {
    TempConfigHome home;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // 40 bytes: blocks 0 to 2.
    QByteArray image;
    for (int i = 0; i < 40; ++i)
        image.append(char(i * 5 + 1));
    const QString imageFile = dir.filePath("image.bin");
    {
        QFile f(imageFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(image);
    }
    SimRunner sim({"--verbose"});
    ASSERT_TRUE(sim.ok());
    const QString traceFile = dir.filePath("wire.trace");
    const CliResult r = runCli(
        {"--port", sim.device(), "--chip", "0", "--lock", "2", "--trace", traceFile, "auto", imageFile});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    QFile f(traceFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QStringList bad;
    const std::vector<TraceLine> trace = parseTrace(f.readAll(), bad);
    EXPECT_TRUE(bad.isEmpty()) << bad.join('\n').toStdString();

    QByteArray traceIn;
    qsizetype sentCount = 0;
    for (const TraceLine& t : trace) {
        if (t.sent)
            ++sentCount;
        else
            traceIn += t.bytes;
    }
    // The simulator logs each frame as it takes it; its standard error may still be on its way here.
    std::vector<SimLine> simLog;
    QByteArray simText;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        simText += sim.errorOutput();
        simLog = parseSimLog(simText);
        QByteArray simOut;
        qsizetype simIn = 0;
        for (const SimLine& s : simLog) {
            if (s.in)
                ++simIn;
            else
                simOut += s.bytes;
        }
        if ((simIn >= sentCount && simOut.size() >= traceIn.size()) || waited.elapsed() > 10000) break;
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }

    // Line by line: every frame the trace shows sent is the next frame the simulator took, with the same
    // reading; the bytes the trace shows received are, in order, exactly what the simulator sent.
    std::vector<SimLine> simIn;
    QByteArray simOut;
    for (const SimLine& s : simLog) {
        if (s.in)
            simIn.push_back(s);
        else
            simOut += s.bytes;
    }
    ASSERT_EQ(static_cast<qsizetype>(simIn.size()), sentCount) << simText.toStdString();
    size_t next = 0;
    double lastMs = 0;
    for (const TraceLine& t : trace) {
        EXPECT_GE(t.ms, lastMs) << "times run forward";
        lastMs = t.ms;
        if (!t.sent) continue;
        const SimLine& s = simIn[next++];
        EXPECT_EQ(t.bytes.toHex(' '), s.bytes.toHex(' ')) << t.reading.toStdString();
        // The simulator cannot tell a verification's read command from a read's.
        EXPECT_TRUE(QString(t.reading)
                        .replace(QLatin1String("command verify"), QLatin1String("command read"))
                        .startsWith(simWordsForTrace(s.note)))
            << t.reading.toStdString() << " / simulator: " << s.note.toStdString();
    }
    EXPECT_EQ(traceIn.toHex(' '), simOut.toHex(' '));

    // The host's readings of the whole run, in order: what a person debugging it reads.
    QStringList readings;
    static const QRegularExpression lastPiece(QStringLiteral(R"(^block frame (\d+) bytes \d+-18 of 18$)"));
    for (const TraceLine& t : trace) {
        QString reading = t.reading;
        // Block frames arrive whole from the simulator, but a loaded machine may split one: the piece that
        // completes it stands for the frame.
        if (const auto m = lastPiece.match(reading); m.hasMatch())
            reading =
                QStringLiteral("block frame %1, address %2H")
                    .arg(m.captured(1),
                         QString::number(m.captured(1).toInt() * 16, 16).rightJustified(4, '0').toUpper());
        else if (!t.sent && reading.contains(QLatin1String(" bytes ")))
            continue;
        readings << (t.sent ? "-> " : "<- ") + reading;
    }
    const QStringList expected = {
        "-> command auto AT89C2051, lock level 2",
        "<- status 06: erase finished, auto goes on",
        "<- status 03: send the next data block",
        "-> data frame 0, address 0000H",
        "<- status 03: send the next data block",
        "-> data frame 1, address 0010H",
        "<- status 03: send the next data block",
        "-> data frame 2, address 0020H",
        "-> end frame",
        // The programmer asked for the next block before the end frame reached it; the host sends nothing.
        "<- status 03: send the next data block (after the end frame: none sent)",
        "<- status 07: programming finished, auto goes on",
        "-> command verify AT89C2051",
        "-> block request 0",
        "<- block frame 0, address 0000H",
        "-> block request 1",
        "<- block frame 1, address 0010H",
        "-> block request 2",
        "<- block frame 2, address 0020H",
        "-> stop frame",
        "-> command lock AT89C2051, lock level 2",
        "<- status 09: lock finished",
    };
    EXPECT_EQ(readings.join('\n').toStdString(), expected.join('\n').toStdString());
}

// A trace read alone tells what ran where: its header names the tool, the port and its device with the line
// settings, the chip, the operation, the file with its checksum and the time; and it marks a wait that ran
// out and a verify mismatch, after the bytes that led to them.
TEST(WireTrace, AFailedRunsTraceStandsAlone) {
    TempConfigHome home;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QByteArray image;
    for (int i = 0; i < 40; ++i)
        image.append(char(i * 5 + 1));
    writeWholeFile(dir.filePath("image.bin"), image);
    QByteArray chip = image + QByteArray(2048 - image.size(), char(0xFF));
    chip[0x21] = char(0x5A);
    struct Case {
        const char* name;
        QStringList simOptions;
        QStringList arguments;
        QStringList header;          // patterns, in order
        QString lastNote;            // pattern
        QString noteFollows;         // pattern of the byte line just before it
    };
    const QString port = R"(port: (\S+) \(\1\), 19200 baud, 8 data bits, parity None, 1 stop bits, flow control None)";
    const QString started = R"(started: \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d) \(.+\))";
    const std::vector<Case> cases = {
        {"verify mismatch",
         {},
         {"verify", "image.bin"},
         {"chipwright-cli " CHIPWRIGHT_VERSION " wire trace", port, "chip: AT89C2051", "operation: verify",
          R"(file: image\.bin, checksum [0-9A-F]{4})", started},
         R"(verify mismatch at 000021H: the file's byte A6H, the chip's byte 5AH)",
         R"(<-  00 02 .*block frame 2, address 0020H)"},
        {"silent erase",
         {"--silence-after", "0"},
         {"erase"},
         {"chipwright-cli " CHIPWRIGHT_VERSION " wire trace", port, "chip: AT89C2051", "operation: erase", started},
         R"(no answer within 1000 ms)",
         R"(->  00 02 00  command erase AT89C2051)"},
        {"silent lock",
         {"--silence-after", "0"},
         {"--lock", "2", "lock"},
         {"chipwright-cli " CHIPWRIGHT_VERSION " wire trace", port, "chip: AT89C2051",
          "operation: lock, lock level 2", started},
         R"(no answer within 3000 ms)",
         R"(->  .*command lock AT89C2051, lock level 2)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRunner sim(c.simOptions, {{0, chip}});
        ASSERT_TRUE(sim.ok());
        const QString traceFile = dir.filePath("wire.trace");
        const CliResult r = runCli(QStringList{"--port", sim.device(), "--chip", "0", "--baud", "19200",
                                               "--trace", traceFile} +
                                       c.arguments,
                                   dir.path());
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        const QByteArray text = readWholeFile(traceFile);
        QStringList bad;
        QStringList notes;
        parseTrace(text, bad, &notes);
        EXPECT_TRUE(bad.isEmpty()) << bad.join('\n').toStdString();
        ASSERT_EQ(notes.size(), c.header.size() + 1) << text.toStdString();
        for (qsizetype i = 0; i < c.header.size(); ++i)
            EXPECT_TRUE(QRegularExpression('^' + c.header[i] + '$').match(notes[i]).hasMatch())
                << notes[i].toStdString() << " / " << c.header[i].toStdString();
        EXPECT_TRUE(text.startsWith("# chipwright-cli ")) << "the header comes first";
        EXPECT_TRUE(QRegularExpression('^' + c.lastNote + '$').match(notes.last()).hasMatch())
            << notes.last().toStdString();
        // The note stands right after the bytes that led to it.
        const QStringList lines = QString::fromUtf8(text).split('\n');
        const qsizetype at = lines.indexOf("# " + notes.last());
        ASSERT_GT(at, 0);
        EXPECT_TRUE(QRegularExpression(c.noteFollows).match(lines[at - 1]).hasMatch()) << lines[at - 1].toStdString();
    }
}

} // namespace
