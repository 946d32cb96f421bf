#include "cliprocess.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>

#include <gtest/gtest.h>

const QStringList autoLog = {"Erasing Now ......Please Wait !",
                             "Programming Now ...... Please Wait !",
                             "Program Succssed!",
                             "Verifying Now ...... Please Wait !",
                             "Verify Succssed !",
                             "Lock Succssed !"};

const QString connectionErrorLine = QStringLiteral("\nError !  Please Check The Connection Whether OK !\n"
                                                   "Or Check  Whether Suited Of The MCU Type  !\n");

namespace {
QString cliPath() {
    return qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/chipwright-cli";
}
} // namespace

CliResult runCli(const QStringList& arguments, const QString& workDir, const QByteArray& input) {
    return runCliThrough({}, arguments, workDir, input);
}

CliResult runCliThrough(const QStringList& launcher, const QStringList& arguments, const QString& workDir,
                        const QByteArray& input) {
    QProcess process;
    if (!workDir.isEmpty()) process.setWorkingDirectory(workDir);
    if (launcher.isEmpty())
        process.start(cliPath(), arguments);
    else
        process.start(launcher.first(), launcher.mid(1) + QStringList{cliPath()} + arguments);
    CliResult result;
    if (!process.waitForStarted(10000)) {
        ADD_FAILURE() << "chipwright-cli did not start";
        return result;
    }
    // Large inputs are taken while the tool runs; the write is buffered by QProcess.
    if (!input.isEmpty()) process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << "chipwright-cli " << arguments.join(' ').toStdString() << " did not end";
        process.kill();
        process.waitForFinished(5000);
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

QByteArray logText(const QStringList& lines) {
    QByteArray text;
    for (const QString& line : lines)
        text += line.toUtf8() + '\n';
    return text;
}

std::vector<QJsonObject> logRecords(const QString& path) {
    QFile file(path);
    std::vector<QJsonObject> records;
    if (!file.open(QIODevice::ReadOnly)) return records;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty()) continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        records.push_back(doc.object());
    }
    return records;
}
