// The pieces of a bench run that need no programmer: the log's JSON line and the per-port file names.
#include "gangrun.h"
#include "runlog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

TEST(RunLog, ARecordIsOneLineOfJsonThatKeepsEveryText) {
    RunRecord r;
    r.started = QDateTime(QDate(2026, 12, 10), QTime(17, 30, 5, 120), QTimeZone(8 * 3600));
    r.port = "/dev/serial/by-id/usb-\"odd\"\\name";
    r.chip = "AT89C2051";
    r.operation = "verify";
    r.file = QString::fromUtf8("韌體\tv2.hex");
    r.checksum = imageChecksum(std::vector<unsigned char>(300, 0xFF)); // 300 x FF = 0x12AD4
    r.failure = "\nError !  Please Check\x01\n";
    r.elapsedMs = 11482;
    const QByteArray line = recordJson(r);
    EXPECT_FALSE(line.contains('\n'));

    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    EXPECT_EQ(QDateTime::fromString(o["time"].toString(), Qt::ISODateWithMs), r.started)
        << line.toStdString();
    EXPECT_EQ(o["port"].toString(), r.port);
    EXPECT_EQ(o["file"].toString(), *r.file);
    EXPECT_EQ(o["checksum"].toString(), "2AD4");
    EXPECT_EQ(o["failure"].toString(), r.failure);
    EXPECT_EQ(o["result"].toString(), "failed");
    EXPECT_DOUBLE_EQ(o["duration"].toDouble(), 11.482);
    EXPECT_TRUE(o["lock"].isNull()) << "no lock level for a verify";

    r.file.reset();
    r.chip.reset();
    r.checksum.reset();
    r.lock = 3;
    r.passed = true;
    const QJsonObject p = QJsonDocument::fromJson(recordJson(r)).object();
    for (const char* empty : {"file", "chip", "checksum"})
        EXPECT_TRUE(p[empty].isNull()) << empty;
    EXPECT_EQ(p["lock"].toInt(), 3);
    EXPECT_EQ(p["result"].toString(), "passed");
}

TEST(RunLog, EachPortGetsItsOwnFileName) {
    const struct {
        const char* path;
        const char* label;
        const char* expected;
    } cases[] = {
        {"out.hex", "ttyUSB0", "out-ttyUSB0.hex"},   {"dir.v2/out.bin", "pts/3", "dir.v2/out-pts_3.bin"},
        {"dir.v2/out", "ttyS0", "dir.v2/out-ttyS0"}, {".hidden", "ttyS0", ".hidden-ttyS0"},
        {"a.tar.hex", "COM1", "a.tar-COM1.hex"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(nameForPort(c.path, c.label), QString(c.expected)) << c.path;
}

} // namespace
