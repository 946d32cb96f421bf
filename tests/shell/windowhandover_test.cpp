#include "handoverclient.h"
#include "platform/filenames.h"
#include "shell/windowargs.h"
#include "shell/windowhandover.h"
#include "support/tempconfig.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

// The hand-over between two starts of the window, each side on its own: the listener in this thread's event
// loop, the other start in a thread of its own (it blocks, as a real second start does).

namespace {

class HandOverTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        socket_ = windowSocketPath(settings_.path(), error);
        ASSERT_FALSE(socket_.isEmpty()) << error.toStdString();
    }
    HandOver handOver(const QString& file, QString& error, int timeoutMs = 10000) {
        return handOverWhileServing(socket_, file, error, timeoutMs);
    }

    TempRuntimeDir runtime_;
    QTemporaryDir settings_;
    QString socket_;
};

} // namespace

TEST_F(HandOverTest, RequestsWaitInOrderForTheWindowAndEveryNameKeepsItsBytes) {
    WindowListener listener;
    QString error;
    ASSERT_TRUE(listener.listen(socket_, error)) << error.toStdString();
    // Only this user may connect.
    EXPECT_EQ(QFileInfo(socket_).permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther |
                                                  QFile::WriteOther),
              QFile::Permissions());

    // A name that is not UTF-8, one with a newline, and none (only come to the front).
    const QString latin1 = platform::fileNameFromBytes("/tmp/caf\xE9.hex");
    const QStringList files{latin1, "/tmp/two\nlines.hex", QString()};
    for (const QString& file : files)
        EXPECT_EQ(handOver(file, error), HandOver::HandedOver) << error.toStdString();

    QStringList received;
    listener.setReceiver([&](const QString& file) { received << file; });
    EXPECT_EQ(received, files);
    EXPECT_EQ(platform::fileNameBytes(received.front()), QByteArray("/tmp/caf\xE9.hex"));

    // Once there is a receiver, a request reaches it from the event loop.
    EXPECT_EQ(handOver("/tmp/later.hex", error), HandOver::HandedOver);
    EXPECT_TRUE(QTest::qWaitFor([&] { return received.size() == 4; }, 5000));
    EXPECT_EQ(received.back(), "/tmp/later.hex");
}

TEST_F(HandOverTest, AWindowThatHoldsTooManyFilesSaysSo) {
    WindowListener listener;
    QString error;
    ASSERT_TRUE(listener.listen(socket_, error));
    for (int i = 0; i < WindowListener::maxPending; ++i)
        ASSERT_EQ(handOver(QStringLiteral("/tmp/%1.hex").arg(i), error), HandOver::HandedOver);
    EXPECT_EQ(handOver("/tmp/one-more.hex", error), HandOver::Failed);
    EXPECT_TRUE(error.contains("has not opened yet")) << error.toStdString();
}

// Clients that are not a second start: nothing they send stops the window from taking the next real request.
TEST_F(HandOverTest, StrangersAndSilentClientsAreDroppedAndTheNextRequestStillArrives) {
    WindowListener listener;
    QString error;
    ASSERT_TRUE(listener.listen(socket_, error));
    QStringList received;
    listener.setReceiver([&](const QString& file) { received << file; });

    const QByteArray strangers[] = {
        QByteArray("GET / HTTP/1.0\r\n\r\n"),
        QByteArray("chipwright-open 2\0/tmp/x.hex\0", 29),
        QByteArray(20000, 'x'),
        QByteArray("chipwright-open 1\0", 18) + QByteArray(9000, 'a'), // a name longer than a path can be
    };
    for (const QByteArray& bytes : strangers) {
        QLocalSocket client;
        client.connectToServer(socket_);
        ASSERT_TRUE(client.waitForConnected(5000));
        client.write(bytes);
        client.flush();
        EXPECT_TRUE(QTest::qWaitFor([&] { return client.state() == QLocalSocket::UnconnectedState; }, 10000))
            << "a stranger stays connected";
        EXPECT_EQ(client.readAll(), QByteArray());
    }
    QLocalSocket silent;
    silent.connectToServer(socket_);
    ASSERT_TRUE(silent.waitForConnected(5000));

    EXPECT_EQ(handOver("/tmp/real.hex", error), HandOver::HandedOver) << error.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return received == QStringList{"/tmp/real.hex"}; }, 5000));
    // The silent one is let go in the end.
    EXPECT_TRUE(QTest::qWaitFor([&] { return silent.state() == QLocalSocket::UnconnectedState; }, 15000));
}

TEST_F(HandOverTest, NoWindowAStaleSocketAndAListenerThatIsNoWindow) {
    QString error;
    EXPECT_EQ(handOver("/tmp/a.hex", error), HandOver::NoWindow);

    // What a killed window leaves: a socket file nobody listens on.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socket_);
    ASSERT_LT(path.size(), static_cast<qsizetype>(sizeof address.sun_path));
    std::memcpy(address.sun_path, path.constData(), path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(socket_));
    EXPECT_EQ(handOver("/tmp/a.hex", error), HandOver::NoWindow);

    // claimWindow takes its place: the next start reaches the new listener.
    WindowClaim claim = claimWindow(settings_.path(), QString(), 5000);
    EXPECT_EQ(claim.outcome, HandOver::NoWindow);
    ASSERT_TRUE(claim.listener) << claim.note.toStdString();
    EXPECT_EQ(handOver("/tmp/a.hex", error), HandOver::HandedOver) << error.toStdString();
    claim.listener.reset();
    EXPECT_FALSE(QFile::exists(socket_)) << "a window that ends takes its socket with it";

    // Something that accepts but never answers: the start gives up with a reason instead of waiting forever.
    QLocalServer mute;
    ASSERT_TRUE(mute.listen(socket_));
    EXPECT_EQ(handOver("/tmp/a.hex", error, 300), HandOver::Failed);
    EXPECT_TRUE(error.contains("did not answer")) << error.toStdString();
}

// A start stopped (Ctrl+Z) while it holds the lock of the hand-over: later starts wait a bounded time, then run
// as a window on their own and say why, instead of hanging.
TEST_F(HandOverTest, ALockThatIsNeverLetGoCostsAWaitAndNoMore) {
    const QByteArray lockPath = QFile::encodeName(socket_ + ".lock");
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    struct flock held {};
    held.l_type = F_WRLCK;
    held.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &held), 0);

    WindowClaim claim = claimWindow(settings_.path(), "/tmp/a.hex", 100);
    EXPECT_EQ(claim.outcome, HandOver::NoWindow);
    EXPECT_FALSE(claim.listener);
    EXPECT_TRUE(claim.note.contains("still locked")) << claim.note.toStdString();
    ::close(fd);

    // Let go, the lock is there for the next start again.
    claim = claimWindow(settings_.path(), QString(), 100);
    EXPECT_TRUE(claim.listener) << claim.note.toStdString();
}

TEST(WindowArguments, TheFileTheTraceAndWhatIsIgnored) {
    struct Case {
        QStringList given;
        QString file, trace;
        QStringList ignored;
        bool error;
    } cases[] = {
        {{"prog.hex"}, "prog.hex", "", {}, false},
        {{"--trace", "t.txt", "prog.hex"}, "prog.hex", "t.txt", {}, false},
        {{"prog.hex", "--trace=t.txt"}, "prog.hex", "t.txt", {}, false},
        {{"a.hex", "b.hex"}, "a.hex", "", {"b.hex"}, false},
        {{"--", "-odd.hex"}, "-odd.hex", "", {}, false},
        {{"--unknown", "a.hex"}, "a.hex", "", {"--unknown"}, false},
        {{"--trace"}, "", "", {}, true},
        {{}, "", "", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given.join(' ').toStdString());
        const WindowArguments parsed = parseWindowArguments(c.given);
        EXPECT_EQ(parsed.file, c.file);
        EXPECT_EQ(parsed.trace, c.trace);
        EXPECT_EQ(parsed.ignored, c.ignored);
        EXPECT_EQ(!parsed.error.isEmpty(), c.error);
    }
    EXPECT_EQ(commandLineFile("prog.hex", "/home/me/work"), "/home/me/work/prog.hex");
    EXPECT_EQ(commandLineFile("../prog.hex", "/"), "/../prog.hex");
    EXPECT_EQ(commandLineFile("/abs/prog.hex", "/home/me"), "/abs/prog.hex");
    EXPECT_EQ(commandLineFile("", "/home/me"), "");
}
