#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

// One window per user: the first chipwright listens on a local socket in the user's runtime folder; a later
// start hands its file to that window over the socket and ends without touching the port.
//
// The request is "chipwright-open 1", a NUL, the file's name as the file system spells it (empty: only come
// to the front), and a NUL. The window answers "ok\n" once it has the request, or "busy\n" when it holds too
// many it has not opened yet.

// The socket of the window that keeps its settings under settingsRoot, in the user's runtime folder (made
// when missing); empty with the reason in error when there is no folder only this user can reach.
QString windowSocketPath(const QString& settingsRoot, QString& error);

enum class HandOver {
    NoWindow,   // nobody listens: this start is the window
    HandedOver, // the running window has the request
    Failed,     // a window listens but did not take the request; error says why
};

// Hands file (absolute, or empty) to the window listening at socketPath, waiting at most timeoutMs for it to
// answer.
HandOver handOverToWindow(const QString& socketPath, const QString& file, int timeoutMs, QString& error);

// The running window's side: accepts requests and passes each file to the receiver once there is one; those
// that come before are kept in order.
class WindowListener : public QObject {
    Q_OBJECT
public:
    // Requests held for a receiver, at most; more are answered "busy".
    static constexpr int maxPending = 32;

    explicit WindowListener(QObject* parent = nullptr);
    ~WindowListener() override;

    // Listens at socketPath. A socket file left there by a window that was killed is replaced: callers make
    // sure (under a lock, after handOverToWindow found nobody) that no window listens there.
    bool listen(const QString& socketPath, QString& error);
    // Whoever opens the files from now on; called with each request's file (empty: come to the front).
    void setReceiver(std::function<void(const QString& file)> receiver);

private:
    void accept();
    void readRequest(QLocalSocket* socket);
    void deliver();

    QLocalServer* server_;
    std::function<void(const QString&)> receiver_;
    QStringList pending_;
};

// What a start of the program is to be.
struct WindowClaim {
    // NoWindow: this start is the window (listener is empty when it could not listen; note says why, and the
    // window then runs on its own). HandedOver: the running window has the file; this start ends.
    // Failed: a window runs but did not take the file (note says why); this start ends too.
    HandOver outcome = HandOver::NoWindow;
    std::unique_ptr<WindowListener> listener;
    QString note;
};

// Hands file to the window of the settings under settingsRoot, or, when none runs, takes its place. Two
// starts at the same moment take turns, so one becomes the window and the other hands over to it.
WindowClaim claimWindow(const QString& settingsRoot, const QString& file, int timeoutMs);
