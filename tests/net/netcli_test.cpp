// chipwright-cli on network ports served by an in-process server: whole runs with images full of 0xFF, a
// server that splits every command across writes, and the faults a network adds, each ending with its message
// and exit status within its bound (the device's bounds plus room for a tool starting on a loaded machine; the
// device tests hold the bounds themselves).
#include "../cli/cliprocess.h"
#include "fakecomserver.h"
#include "support/tempconfig.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class NetCli : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString writeImage(const QByteArray& image) {
        const QString path = dir.filePath("image.bin");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(image);
        return path;
    }
    CliResult run(const std::string& port, const QStringList& arguments, qint64* ms = nullptr) {
        QElapsedTimer timer;
        timer.start();
        CliResult r = runCli(QStringList{"--port", QString::fromStdString(port), "--chip", "0"} + arguments,
                             dir.path());
        if (ms) *ms = timer.elapsed();
        return r;
    }

    TempConfigHome home;
    QTemporaryDir dir;
};

QByteArray mostlyFF(int size) {
    QByteArray image(size, char(0xFF));
    for (int i = 0; i < size; i += 13) image[i] = char(i * 7);
    return image;
}

} // namespace

TEST_F(NetCli, AutoAndReadBackByteExactOverRfc2217AndRawTcpWithSplitCommands) {
    struct Case {
        const char* what;
        bool telnet;
        bool oneByteWrites;
    } cases[] = {{"rfc2217", true, false}, {"rfc2217, every byte apart", true, true}, {"tcp", false, false}};
    for (const Case& c : cases) {
        FakeComServer::Options o;
        o.telnet = c.telnet;
        o.oneByteWrites = c.oneByteWrites;
        FakeComServer server(o);
        const QByteArray image = mostlyFF(2048);
        const QString file = writeImage(image);
        CliResult r = run(server.name(), {"auto", file});
        EXPECT_EQ(r.exitCode, 0) << c.what << r.err.toStdString();
        EXPECT_EQ(r.out, logText(autoLog)) << c.what;
        EXPECT_EQ(server.memory(0), image) << c.what;

        const QString out = dir.filePath("back.bin");
        r = run(server.name(), {"read", out});
        EXPECT_EQ(r.exitCode, 0) << c.what << r.err.toStdString();
        QFile back(out);
        ASSERT_TRUE(back.open(QIODevice::ReadOnly));
        EXPECT_EQ(back.readAll(), image) << c.what;
        if (c.telnet) {
            EXPECT_EQ(server.baudRate(), 9600u) << "the line settings reached the server";
        }
    }
}

TEST_F(NetCli, NetworkFaultsEndWithinTheirBoundWithTheirMessageAndExitStatus) {
    // A loopback port that nothing listens on, held so that nobody else takes it.
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string refused = "rfc2217://127.0.0.1:" + std::to_string(ntohs(a.sin_port));

    FakeComServer::Options unconfirming;
    unconfirming.confirmSettings = false;
    FakeComServer::Options mute;
    mute.answerOptions = false;
    FakeComServer::Options closing;
    closing.closeAfterDataBytes = 100; // inside the first block of the program exchange
    FakeComServer::Options silent;
    silent.silenceAfterDataBytes = 100;
    FakeComServer unconfirmingServer(unconfirming), muteServer(mute), closingServer(closing),
        silentServer(silent);

    const QString file = writeImage(mostlyFF(2048));
    const QString cannotOpen = QStringLiteral("chipwright-cli: cannot open the port %1: %2");
    struct Case {
        const char* what;
        std::string port;
        QStringList arguments;
        QString says; // on standard error, or on standard output for the connection's failures
        bool onOutput;
        qint64 boundMs;
        QString cause = {}; // on standard error besides
    } cases[] = {
        {"refused", refused, {"probe"}, cannotOpen.arg(QString::fromStdString(refused), "Connection refused"),
         false, 10000},
        {"unresolvable", "rfc2217://" + std::string(64, 'a') + ".invalid:3333", {"probe"},
         "Name or service not known", false, 10000},
        {"never agrees to COM port control", muteServer.name(), {"probe"},
         cannotOpen.arg(QString::fromStdString(muteServer.name()), "Protocol not supported"), false, 15000},
        {"never confirms the settings", unconfirmingServer.name(), {"probe"},
         cannotOpen.arg(QString::fromStdString(unconfirmingServer.name()), "Timer expired"), false, 15000},
        {"closed mid-block", closingServer.name(), {"program", file}, connectionErrorLine, true, 15000,
         QStringLiteral("chipwright-cli: the connection to %1 ended: Connection reset by peer")
             .arg(QString::fromStdString(closingServer.name()))},
        {"silent after 100 bytes", silentServer.name(), {"program", file}, connectionErrorLine, true, 15000},
    };
    for (const Case& c : cases) {
        qint64 ms = 0;
        const CliResult r = run(c.port, c.arguments, &ms);
        EXPECT_EQ(r.exitCode, 1) << c.what << r.err.toStdString();
        const QString text = QString::fromUtf8(c.onOutput ? r.out : r.err);
        EXPECT_TRUE(text.contains(c.says)) << c.what << ": " << text.toStdString();
        EXPECT_TRUE(QString::fromUtf8(r.err).contains(c.cause)) << c.what << ": " << r.err.toStdString();
        EXPECT_LT(ms, c.boundMs) << c.what;
    }
    // Silence alone is no ended connection: nothing is said about one.
    EXPECT_FALSE(run(silentServer.name(), {"program", file}).err.contains("connection to"));
    ::close(holder);
}

TEST_F(NetCli, PortScanProbesTheNetworkNamesItIsGiven) {
    FakeComServer server({});
    FakeComServer::Options mute;
    mute.answerOptions = false;
    FakeComServer muteServer(mute);
    const CliResult r = runCli({"ports", "--probe", QString::fromStdString(server.name()),
                                QString::fromStdString(muteServer.name())});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QString::fromStdString(server.name()))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains("Protocol not supported")) << lines[1].toStdString();
}

TEST_F(NetCli, AGangOfNetworkPortsRunsAtOnceWithItsLogAndTrace) {
    FakeComServer first({}), second({});
    const QByteArray image = mostlyFF(2048);
    const QString file = writeImage(image);
    const QString log = dir.filePath("chips.log"), trace = dir.filePath("wire.trace");
    const CliResult r =
        runCli({"--port", QString::fromStdString(first.name()), "--port", QString::fromStdString(second.name()),
                "--chip", "0", "--log", log, "--trace", trace, "auto", file},
               dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(first.memory(0), image);
    EXPECT_EQ(second.memory(0), image);
    const QString out = QString::fromUtf8(r.out);
    for (const FakeComServer* s : {&first, &second}) {
        const QString label = QStringLiteral("127.0.0.1:%1").arg(s->port());
        EXPECT_TRUE(out.contains("[" + label + "] Lock Succssed !")) << out.toStdString();
        QFile portTrace(dir.filePath("wire-" + label + ".trace"));
        ASSERT_TRUE(portTrace.open(QIODevice::ReadOnly)) << portTrace.fileName().toStdString();
        EXPECT_TRUE(portTrace.readAll().contains("lock finished"));
    }
    QFile logFile(log);
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = logFile.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    for (const QByteArray& line : lines) {
        EXPECT_TRUE(line.contains("\"port\":\"rfc2217://127.0.0.1:")) << line.toStdString();
        EXPECT_TRUE(line.contains("\"result\":\"passed\"")) << line.toStdString();
    }
}
