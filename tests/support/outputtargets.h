#pragma once

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
