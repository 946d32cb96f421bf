#include "shell/windowhandover.h"

#include "platform/filelock.h"
#include "platform/filenames.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

namespace {

constexpr char requestHeaderText[] = "chipwright-open 1";
const QByteArray requestHeader(requestHeaderText);
// The header, a name as long as Linux allows a path, and the two NULs.
constexpr qint64 maxRequestBytes = qint64(sizeof requestHeaderText - 1) + 4096 + 2;
// A client that connects and says nothing is dropped after this long, so it holds nothing.
constexpr int requestTimeoutMs = 5000;

} // namespace

QString windowSocketPath(const QString& settingsRoot, QString& error) {
    // Qt's runtime folder is $XDG_RUNTIME_DIR, or one it makes under /tmp; either way it is checked to belong to
    // this user and to be closed to everyone else, and is empty when it cannot be.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        error = QStringLiteral("no runtime folder of this user's own (XDG_RUNTIME_DIR)");
        return {};
    }
    // Windows with settings of their own (another XDG_CONFIG_HOME) are separate windows.
    const QByteArray key =
        QCryptographicHash::hash(platform::fileNameBytes(settingsRoot), QCryptographicHash::Sha256).toHex().left(16);
    return folder + QLatin1String("/chipwright-") + QLatin1String(key) + QLatin1String(".socket");
}

HandOver handOverToWindow(const QString& socketPath, const QString& file, int timeoutMs, QString& error) {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs)) {
        switch (socket.error()) {
        case QLocalSocket::ServerNotFoundError:
        case QLocalSocket::ConnectionRefusedError:
            return HandOver::NoWindow; // no socket, or one left by a window that is gone
        default:
            error = QStringLiteral("cannot reach the running window at %1: %2").arg(socketPath, socket.errorString());
            return HandOver::Failed;
        }
    }
    QByteArray request = requestHeader;
    request += '\0';
    request += platform::fileNameBytes(file);
    request += '\0';
    socket.write(request);
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            if (socket.error() == QLocalSocket::SocketTimeoutError || deadline.hasExpired())
                error = QStringLiteral("the running window did not answer within %1 s").arg(timeoutMs / 1000.0);
            else
                error = QStringLiteral("the running window closed the connection without an answer");
            return HandOver::Failed;
        }
        answer += socket.read(64);
        if (answer.size() > 64) break;
    }
    if (answer.startsWith("ok\n")) return HandOver::HandedOver;
    if (answer.startsWith("busy\n"))
        error = QStringLiteral("the running window has %1 files it has not opened yet; try again when it is free")
                    .arg(WindowListener::maxPending);
    else
        error = QStringLiteral("the program listening at %1 is not a Chipwright window").arg(socketPath);
    return HandOver::Failed;
}

WindowListener::WindowListener(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    connect(server_, &QLocalServer::newConnection, this, &WindowListener::accept);
}

WindowListener::~WindowListener() {
    // The socket file goes with the window, so the next start finds no socket rather than a stale one.
    server_->close();
}

bool WindowListener::listen(const QString& socketPath, QString& error) {
    QLocalServer::removeServer(socketPath);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (server_->listen(socketPath)) return true;
    error = QStringLiteral("cannot listen at %1: %2").arg(socketPath, server_->errorString());
    return false;
}

void WindowListener::setReceiver(std::function<void(const QString&)> receiver) {
    receiver_ = std::move(receiver);
    deliver();
}

void WindowListener::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(requestTimeoutMs, socket, [socket] { socket->abort(); });
        readRequest(socket);
    }
}

void WindowListener::readRequest(QLocalSocket* socket) {
    const QByteArray data = socket->peek(maxRequestBytes + 1);
    const qsizetype headerEnd = data.indexOf('\0');
    const qsizetype nameEnd = headerEnd < 0 ? -1 : data.indexOf('\0', headerEnd + 1);
    if (nameEnd < 0) {
        if (data.size() > maxRequestBytes) socket->abort();
        return; // the rest is still on its way
    }
    socket->read(nameEnd + 1);
    if (data.left(headerEnd) != requestHeader) {
        socket->abort();
        return;
    }
    if (!receiver_ && pending_.size() >= maxPending) {
        socket->write("busy\n");
    } else {
        pending_ << platform::fileNameFromBytes(data.mid(headerEnd + 1, nameEnd - headerEnd - 1));
        socket->write("ok\n");
        // The files are opened from the event loop, after this handler: opening one may show a message box.
        QTimer::singleShot(0, this, &WindowListener::deliver);
    }
    socket->disconnectFromServer();
}

void WindowListener::deliver() {
    while (receiver_ && !pending_.isEmpty())
        receiver_(pending_.takeFirst());
}

WindowClaim claimWindow(const QString& settingsRoot, const QString& file, int timeoutMs) {
    WindowClaim claim;
    const QString socketPath = windowSocketPath(settingsRoot, claim.note);
    if (socketPath.isEmpty()) return claim;
    // Between finding nobody at the socket and listening there, no other start may look. A start holds the
    // lock at most as long as it waits for a window's answer; one that holds it longer (stopped, say) does not
    // keep this start from running, only from being found by later ones.
    const platform::HeldFileLock lock(socketPath + QLatin1String(".lock"), timeoutMs + 5000);
    if (!lock.error().isEmpty()) {
        claim.note = lock.error();
        return claim;
    }
    claim.outcome = handOverToWindow(socketPath, file, timeoutMs, claim.note);
    if (claim.outcome != HandOver::NoWindow) return claim;
    claim.listener = std::make_unique<WindowListener>();
    if (!claim.listener->listen(socketPath, claim.note)) claim.listener.reset();
    return claim;
}
