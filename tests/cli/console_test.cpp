// The tool's console on a real terminal: the bars of several ports at the bottom, log lines above them,
// whole, from any thread. What the terminal shows is worked out from the bytes it gets by a small screen
// model.
#include "console.h"

#include "support/ptypair.h"
#include "support/simrunner.h"
#include "support/tempconfig.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

// The screen of a terminal that knows what the console sends: CR, LF, erase to the end of the line (ESC [ K),
// erase to the end of the screen (ESC [ J) and cursor up (ESC [ A).
class Screen {
public:
    // The bytes come as the terminal reads them, so an escape sequence may be cut between two calls: its start
    // is kept until the rest arrives.
    void feed(const QByteArray& bytes) {
        const QByteArray in = pending_ + bytes;
        pending_.clear();
        for (qsizetype i = 0; i < in.size(); ++i) {
            const char c = in[i];
            if (c == '\033') {
                if (in.size() - i < 3) {
                    pending_ = in.mid(i);
                    return;
                }
                const QByteArray sequence = in.mid(i, 3);
                i += 2;
                if (sequence == "\033[K") {
                    row().truncate(col_);
                } else if (sequence == "\033[J") {
                    row().truncate(col_);
                    rows_.resize(std::min<qsizetype>(rows_.size(), row_ + 1));
                } else if (sequence == "\033[A") {
                    row_ = std::max(row_ - 1, 0);
                } else {
                    ADD_FAILURE() << "the console sent an escape sequence this screen does not know: "
                                  << sequence.mid(1).toStdString();
                }
            } else if (c == '\r') {
                col_ = 0;
            } else if (c == '\n') {
                ++row_;
            } else {
                QString& r = row();
                if (r.size() < col_) r += QString(col_ - r.size(), ' ');
                if (r.size() == col_)
                    r += QLatin1Char(c);
                else
                    r[col_] = QLatin1Char(c);
                ++col_;
            }
        }
    }
    // The rows down to the last one that holds anything.
    QStringList rows() const {
        QStringList shown = rows_;
        while (!shown.isEmpty() && shown.last().isEmpty())
            shown.removeLast();
        return shown;
    }

private:
    QString& row() {
        while (rows_.size() <= row_)
            rows_ << QString();
        return rows_[row_];
    }
    QStringList rows_;
    int row_ = 0;
    int col_ = 0;
    QByteArray pending_;
};

struct Terminal {
    PtyPair pty;
    std::FILE* out = std::fopen(pty.slavePath().toLocal8Bit().constData(), "w");
    std::FILE* err = std::fopen(pty.slavePath().toLocal8Bit().constData(), "w");
    Screen screen;

    ~Terminal() {
        if (out) std::fclose(out);
        if (err) std::fclose(err);
    }
    // Takes in what the console has sent so far.
    QStringList shown() {
        screen.feed(pty.receive(1 << 20, 200));
        return screen.rows();
    }
};

TEST(Console, BarsStayBelowTheLinesAndGoAtTheEnd) {
    Terminal t;
    ASSERT_TRUE(t.pty.ok() && t.out && t.err);
    Console console(t.out, t.err, 3);
    ASSERT_TRUE(console.showsBars());
    console.setBar(0, "[a] Programming [##....]");
    console.setBar(2, "[c] Programming [#.....]");
    console.line(t.out, "[a] Programming Now ...... Please Wait !");
    console.setBar(1, "[b] Verifying [###...]");
    console.line(t.err, "[b] chipwright-cli: something to say");
    console.setBar(0, "[a] Programming [######]");
    EXPECT_EQ(t.shown(), (QStringList{"[a] Programming Now ...... Please Wait !",
                                      "[b] chipwright-cli: something to say", "[a] Programming [######]",
                                      "[b] Verifying [###...]", "[c] Programming [#.....]"}));

    console.setBar(1, {});
    EXPECT_EQ(t.shown().mid(2), (QStringList{"[a] Programming [######]", "[c] Programming [#.....]"}))
        << "a bar that goes leaves no empty row";
    console.clearBars();
    console.line(t.out, "Port  Result");
    EXPECT_EQ(t.shown(), (QStringList{"[a] Programming Now ...... Please Wait !",
                                      "[b] chipwright-cli: something to say", "Port  Result"}));
}

TEST(Console, LinesFromManyThreadsArriveWholeAndNoBarIsLeftBehind) {
    Terminal t;
    ASSERT_TRUE(t.pty.ok() && t.out && t.err);
    constexpr int ports = 4;
    constexpr int linesPerPort = 40;
    {
        Console console(t.out, t.err, ports);
        std::vector<std::thread> threads;
        for (int p = 0; p < ports; ++p)
            threads.emplace_back([&console, &t, p] {
                for (int i = 0; i < linesPerPort; ++i) {
                    console.setBar(p, QStringLiteral("[port%1] bar %2").arg(p).arg(QString(i % 20, '#')));
                    console.line(i % 2 ? t.out : t.err,
                                 QStringLiteral("[port%1] line %2 of this port").arg(p).arg(i));
                }
                console.setBar(p, {});
            });
        std::atomic<bool> written{false};
        std::thread reader([&t, &written] {
            // The terminal is read while the lines come, as a real one would be (a full terminal would hold
            // the writers up).
            // What one read returns ends anywhere, inside an escape sequence too: the screen is fed in
            // pieces of 1 to 7 bytes so that every kind of cut happens.
            qsizetype piece = 0;
            while (!written) {
                const QByteArray got = t.pty.receive(1 << 20, 20);
                for (qsizetype at = 0; at < got.size(); at += piece) {
                    piece = piece % 7 + 1;
                    t.screen.feed(got.mid(at, piece));
                }
            }
        });
        for (std::thread& th : threads)
            th.join();
        written = true;
        reader.join();
    }
    const QStringList rows = t.shown();
    ASSERT_EQ(rows.size(), ports * linesPerPort) << rows.join('\n').toStdString();
    for (int p = 0; p < ports; ++p) {
        QStringList ofPort;
        for (const QString& row : rows)
            if (row.startsWith(QStringLiteral("[port%1] ").arg(p))) ofPort << row;
        for (int i = 0; i < linesPerPort; ++i)
            EXPECT_EQ(ofPort.value(i), QStringLiteral("[port%1] line %2 of this port").arg(p).arg(i));
    }
}

TEST(Console, ATerminalThatGetsNarrowerGetsItsBarsAtTheNewWidth) {
    Terminal t;
    ASSERT_TRUE(t.pty.ok() && t.out && t.err);
    ASSERT_TRUE(t.pty.setWindowSize(80));
    Console console(t.out, t.err, 1);
    ASSERT_TRUE(console.showsBars());
    const QString wide = "[a] " + QString(70, '#');
    console.setBar(0, wide);
    EXPECT_EQ(t.shown(), QStringList{wide});

    ASSERT_TRUE(t.pty.setWindowSize(40));
    ::raise(SIGWINCH); // what the terminal sends its program when its window changes
    EXPECT_EQ(console.columns(), 40);
    console.line(t.out, "[a] a line");
    const QStringList rows = t.shown();
    ASSERT_EQ(rows.size(), 2) << rows.join('|').toStdString();
    EXPECT_EQ(rows[0], "[a] a line");
    EXPECT_EQ(rows[1], wide.left(39)) << "the bar fits the new width";
}

TEST(Console, MoreBarsThanRowsShareAFewLinesAsShortCells) {
    Terminal t;
    ASSERT_TRUE(t.pty.ok() && t.out && t.err);
    ASSERT_TRUE(t.pty.setWindowSize(40, 6));
    constexpr int ports = 32;
    Console console(t.out, t.err, ports);
    for (int p = 0; p < ports; ++p)
        console.setBar(p, QStringLiteral("[pts/%1] Programming 50% [#####.....]").arg(p),
                       QStringLiteral("pts/%1 50%").arg(p));
    console.line(t.out, "a line above the bars");
    const QStringList rows = t.shown();
    ASSERT_GE(rows.size(), 2);
    EXPECT_EQ(rows[0], "a line above the bars");
    const QStringList bars = rows.mid(1);
    EXPECT_LE(bars.size(), 4) << "the screen keeps room for the lines: " << bars.join('|').toStdString();
    for (const QString& row : bars) {
        EXPECT_LT(row.size(), 40) << row.toStdString();
        EXPECT_TRUE(row.startsWith("pts/")) << row.toStdString();
    }
    EXPECT_TRUE(bars.first().startsWith("pts/0 50%  pts/1 50%")) << bars.first().toStdString();
    console.clearBars();
    EXPECT_EQ(t.shown(), QStringList{"a line above the bars"}) << "no cell is left behind";
}

TEST(Console, NoBarsUnlessOutputAndErrorsShareTheTerminal) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    Terminal t;
    ASSERT_TRUE(t.pty.ok() && t.err);
    PtyPair other;
    std::FILE* otherTerminal = std::fopen(other.slavePath().toLocal8Bit().constData(), "w");
    ASSERT_NE(otherTerminal, nullptr);
    const struct {
        const char* name;
        std::FILE* out;
        std::FILE* err;
    } cases[] = {
        {"both into a file", file, file},
        {"output piped (| tee), errors on the terminal", file, t.err},
        {"output on another terminal", otherTerminal, t.err},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Console console(c.out, c.err, 2);
        EXPECT_FALSE(console.showsBars());
        console.setBar(0, "[a] bar");
        console.line(c.out, "[a] line");
    }
    std::rewind(file);
    char buffer[64] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
    EXPECT_EQ(QByteArray(buffer, static_cast<qsizetype>(n)), "[a] line\n[a] line\n");
    EXPECT_FALSE(t.pty.receive(1 << 20, 100).contains("bar")) << "nothing of a bar reached the terminal";
    std::fclose(file);
    std::fclose(otherTerminal);
}

} // namespace

namespace {

// The whole tool on a terminal that takes both its output streams, as a shell gives them.
TEST(Console, TraceLinesStandAboveTheBarWholeAndTheBarsNumberMatchesItsFill) {
    PtyPair terminal;
    ASSERT_TRUE(terminal.ok());
    // Paced as a 9600 baud line, so the bar moves while the trace runs.
    SimRunner sim({"--baud", "9600"});
    ASSERT_TRUE(sim.ok());
    TempConfigHome home;
    QTemporaryDir dir;
    QByteArray image;
    for (int i = 0; i < 512; ++i)
        image.append(char(i * 7 + 3));
    writeWholeFile(dir.filePath("image.bin"), image);
    QProcess cli;
    cli.setStandardOutputFile(terminal.slavePath(), QIODevice::Append);
    cli.setStandardErrorFile(terminal.slavePath(), QIODevice::Append);
    cli.setStandardInputFile(QProcess::nullDevice());
    cli.start(qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-cli",
              {"--port", sim.device(), "--chip", "0", "--trace", "-", "program", dir.filePath("image.bin")});
    ASSERT_TRUE(cli.waitForStarted());
    QByteArray bytes;
    while (!cli.waitForFinished(20))
        bytes += terminal.receive(1 << 20, 20);
    bytes += terminal.receive(1 << 20, 300);
    EXPECT_EQ(cli.exitCode(), 0) << bytes.toStdString();

    // Every bar drawn: its percentage is the share of its width that is filled.
    static const QRegularExpression bar(QStringLiteral(R"(\[(#*)(\.*)\] +(\d+)%)"));
    int bars = 0;
    for (auto it = bar.globalMatch(QString::fromUtf8(bytes)); it.hasNext(); ++bars) {
        const QRegularExpressionMatch m = it.next();
        const qsizetype width = m.captured(1).size() + m.captured(2).size();
        EXPECT_EQ(m.captured(1).size(), width * m.captured(3).toInt() / 100) << m.captured(0).toStdString();
    }
    EXPECT_GT(bars, 2) << bytes.toStdString();

    // What the terminal shows at the end: whole trace lines, whole log lines, no piece of a bar.
    Screen screen;
    screen.feed(bytes);
    static const QRegularExpression traceLine(
        QStringLiteral(R"(^ *\d+\.\d{3}  (->|<-)  [0-9A-F]{2}( [0-9A-F]{2})*  [a-z].*[a-zA-Z0-9)]$)"));
    int traced = 0;
    for (const QString& row : screen.rows()) {
        if (row.startsWith("# ") || row == "Programming Now ...... Please Wait !" || row == "Program Succssed!")
            continue;
        EXPECT_TRUE(traceLine.match(row).hasMatch()) << row.toStdString();
        ++traced;
    }
    EXPECT_GT(traced, 32 * 2) << "32 data frames and their answers";
}

} // namespace
