#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// The built chipwright-sim, started as its own process, with the device it announces opened by plain termios
// calls (raw mode) as a host would open it.
class SimProcess {
public:
    ~SimProcess();

    // Starts the simulator with these options and opens its device; false (with a test failure) otherwise.
    bool start(const QStringList& arguments);
    QString device() const { return device_; }

    bool openDevice();
    void closeDevice();

    void send(const QByteArray& bytes);
    // Exactly count bytes, waiting at most timeoutMs for them; fewer when the time runs out.
    QByteArray receive(int count, int timeoutMs = 10000);

    // Asks the simulator to stop (SIGTERM) and returns its exit code, or -1 when it did not end in time.
    int terminate();
    // Waits for the simulator to end by itself.
    int waitForExit(int timeoutMs = 10000);
    QByteArray errorOutput() { return process_.readAllStandardError(); }

    static QString executable();

private:
    QProcess process_;
    QString device_;
    int fd_ = -1;
};
