#include "terminalrun.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

TerminalRun::TerminalRun(const QStringList& arguments, const QString& workDir, bool errOnTerminal)
    : errOnTerminal_(errOnTerminal) {
    if (!pty_.ok()) {
        ADD_FAILURE() << "no pseudo-terminal";
        return;
    }
    process_.setWorkingDirectory(workDir);
    process_.setStandardInputFile(pty_.slavePath());
    if (errOnTerminal) process_.setStandardErrorFile(pty_.slavePath());
    process_.start(qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-cli", arguments);
    started_ = process_.waitForStarted(10000);
    if (!started_) ADD_FAILURE() << "chipwright-cli did not start";
}

TerminalRun::~TerminalRun() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void TerminalRun::collect() {
    out_ += process_.readAllStandardOutput();
    // The terminal's screen: what the tool wrote there and the keys it echoed.
    const QByteArray screen = pty_.receive(1 << 20, 5);
    if (errOnTerminal_)
        err_ += screen;
    else
        err_ += process_.readAllStandardError();
}

bool TerminalRun::waitFor(const QByteArray& (TerminalRun::*stream)(), const QByteArray& text, int count,
                          int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while ((this->*stream)().count(text) < count) {
        if (clock.elapsed() > timeoutMs || process_.state() == QProcess::NotRunning) {
            collect();
            return (this->*stream)().count(text) >= count;
        }
        process_.waitForReadyRead(20);
    }
    return true;
}

bool TerminalRun::waitForErr(const QByteArray& text, int count, int timeoutMs) {
    return waitFor(&TerminalRun::err, text, count, timeoutMs);
}

bool TerminalRun::waitForOut(const QByteArray& text, int count, int timeoutMs) {
    return waitFor(&TerminalRun::out, text, count, timeoutMs);
}

int TerminalRun::finish(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!process_.waitForFinished(20)) {
        collect();
        if (clock.elapsed() > timeoutMs) {
            ADD_FAILURE() << "chipwright-cli did not end";
            process_.kill();
            process_.waitForFinished(5000);
            return -1;
        }
    }
    collect();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}
