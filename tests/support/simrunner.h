#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <map>

// The built chipwright-sim running as its own process with a state file in a temporary folder, for tests that
// drive the real host against it. Stopped when the object goes.
class SimRunner {
public:
    // Starts the simulator with these extra options, its chips holding images (chip index -> bytes; the rest
    // erased); check ok() before use.
    explicit SimRunner(const QStringList& options = {}, const std::map<int, QByteArray>& images = {});
    ~SimRunner();
    SimRunner(const SimRunner&) = delete;
    SimRunner& operator=(const SimRunner&) = delete;

    bool ok() const { return !device_.isEmpty(); }
    const QString& device() const { return device_; }
    QString stateFile() const { return dir_.filePath("sim.state"); }

    // What the simulated chip holds now (from the state file; erased when nothing was saved yet).
    QByteArray memory(int chip) const;
    int lockLevel(int chip) const;

    // Its standard error so far (with --verbose, the frames).
    QByteArray errorOutput();

    static QString executable();

private:
    QTemporaryDir dir_;
    QProcess process_;
    QString device_;
};
