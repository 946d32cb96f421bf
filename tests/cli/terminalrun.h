#pragma once

#include "support/ptypair.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// The built chipwright-cli with a real terminal (a pseudo-terminal) as its standard input, as an operator at
// a station runs it: what is typed goes through the terminal's line editing, and keys pressed while the tool
// is busy wait in the terminal for whoever reads them. Standard output is a pipe; standard error is a pipe
// too, or the same terminal (errOnTerminal).
class TerminalRun {
public:
    TerminalRun(const QStringList& arguments, const QString& workDir, bool errOnTerminal = false);
    ~TerminalRun();

    bool started() const { return started_; }
    // Types keys on the terminal.
    void type(const QByteArray& keys) { pty_.send(keys); }
    // Waits until standard error (the terminal's screen where it goes there) holds text count times; false
    // after timeoutMs.
    bool waitForErr(const QByteArray& text, int count = 1, int timeoutMs = 30000);
    // Waits until standard output holds text count times.
    bool waitForOut(const QByteArray& text, int count = 1, int timeoutMs = 30000);
    // Waits for the tool to end: its exit code, or -1 when it did not end (it is killed then).
    int finish(int timeoutMs = 60000);

    // What standard output and standard error (or the terminal, echoed keys included) held so far.
    const QByteArray& out() { collect(); return out_; }
    const QByteArray& err() { collect(); return err_; }
    qint64 pid() const { return process_.processId(); }

private:
    void collect();
    bool waitFor(const QByteArray& (TerminalRun::*stream)(), const QByteArray& text, int count, int timeoutMs);

    PtyPair pty_;
    QProcess process_;
    bool errOnTerminal_;
    bool started_ = false;
    QByteArray out_;
    QByteArray err_;
};
