#include "support/simrunner.h"

#include "simstate.h"

#include <QDeadlineTimer>
#include <QFile>

#include <gtest/gtest.h>

QString SimRunner::executable() { return qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-sim"; }

SimRunner::SimRunner(const QStringList& options, const std::map<int, QByteArray>& images) {
    if (!images.empty()) {
        sim::Engine engine;
        for (const auto& [chip, image] : images) EXPECT_TRUE(engine.setMemory(chip, image)) << chip;
        EXPECT_TRUE(sim::saveStateFile(stateFile(), engine));
    }
    // A forgotten simulator ends by itself.
    QStringList arguments = {"--state", stateFile(), "--exit-after-idle", "120000"};
    arguments += options;
    process_.start(executable(), arguments);
    if (!process_.waitForStarted(10000)) {
        ADD_FAILURE() << "cannot start " << executable().toStdString();
        return;
    }
    QDeadlineTimer deadline(10000);
    while (!process_.canReadLine() && !deadline.hasExpired() && process_.state() == QProcess::Running)
        process_.waitForReadyRead(100);
    const QString line = QString::fromLocal8Bit(process_.readLine()).trimmed();
    if (line.startsWith("/dev/"))
        device_ = line;
    else
        ADD_FAILURE() << "chipwright-sim gave no device: " << process_.readAllStandardError().toStdString();
}

SimRunner::~SimRunner() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
    process_.waitForFinished(5000);
}

QByteArray SimRunner::errorOutput() { return process_.readAllStandardError(); }

namespace {
sim::Engine loadEngine(const QString& path) {
    sim::Engine engine;
    QString error;
    EXPECT_TRUE(sim::loadStateFile(path, engine, &error)) << error.toStdString();
    return engine;
}
} // namespace

QByteArray SimRunner::memory(int chip) const { return loadEngine(stateFile()).memory(chip); }

int SimRunner::lockLevel(int chip) const { return loadEngine(stateFile()).lockLevel(chip); }

