#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>

// A small tmpfs mounted on a fresh folder for the object's lifetime, for writes onto a full filesystem.
// Mounting needs root (or CAP_SYS_ADMIN); where it is refused, mounted() is false and reason() says why.
class SmallTmpfs {
public:
    explicit SmallTmpfs(int kilobytes = 64);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    const QString& reason() const { return reason_; }
    QString path() const { return dir_.path(); }
    // Fills the filesystem with a file of its own until a write fails, leaving about nothing free.
    void fill();

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    QString reason_;
};

// Runs body in a child process and gives its exit code (or 128 + signal). As root the child first drops to
// the user nobody, so that folder permissions apply to it as to any user; body's return value is the exit
// code.
int runInUnprivilegedChild(const std::function<int()>& body);

// The user id the child of runInUnprivilegedChild runs as.
unsigned unprivilegedUid();

// Makes a temporary folder usable by that user (QTemporaryDir makes it private).
void shareWithUnprivilegedUser(const QString& folder);

// What a process reading the FIFO at fifo gets while write() writes into it. A writer is refused while no
// reader has the FIFO open, so write() is tried again (up to attempts times, pauseUs apart) until it returns
// true; the reader takes every byte until the writer closes. Should no attempt succeed, the reader is
// released and gets nothing.
QByteArray readFifoWhileWriting(const QString& fifo, const std::function<bool()>& write, int attempts,
                                int pauseUs);
