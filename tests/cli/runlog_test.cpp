// The pieces of a bench run that need no programmer: the log's JSON line and the per-port file names.
#include "gangrun.h"
#include "jsonstring.h"
#include "runlog.h"

#include "platform/filenames.h"

#include <QJsonArray>
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

// The bytes of a name, recovered from its JSON text: valid UTF-8 as it stands, each \udcXX escape as the byte
// XX (the documented escape).
QByteArray recoveredBytes(const QByteArray& json) {
    QByteArray bytes;
    const QByteArray body = json.mid(1, json.size() - 2);
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body.mid(i, 4) == "\\udc" && i + 6 <= body.size()) {
            bytes += char(body.mid(i + 4, 2).toInt(nullptr, 16));
            i += 5;
        } else if (body[i] == '\\') {
            const QJsonDocument d = QJsonDocument::fromJson("[\"" + body.mid(i, body[i + 1] == 'u' ? 6 : 2) + "\"]");
            bytes += d.array().at(0).toString().toUtf8();
            i += body[i + 1] == 'u' ? 5 : 1;
        } else {
            bytes += body[i];
        }
    }
    return bytes;
}

TEST(JsonString, NamesThatAreNotUtf8KeepEveryByte) {
    struct Case {
        QByteArray name; // the bytes the system knows the file by
        QByteArray json;
    };
    const std::vector<Case> cases = {
        {"fw.hex", R"("fw.hex")"},
        {"\xE9t\xE9.hex", R"("\udce9t\udce9.hex")"},                 // Latin-1
        {"\xC3(.bin", R"("\udcc3(.bin")"},                              // a cut UTF-8 sequence
        {"\xED\xB3\xA9.hex", R"("\udced\udcb3\udca9.hex")"},           // the UTF-8 of a surrogate itself
        {"\xFF\x80", R"("\udcff\udc80")"},
        {"\xE9\x9F\x8C\xE9\xAB\x94.hex", "\"\xE9\x9F\x8C\xE9\xAB\x94.hex\""}, // valid UTF-8 stays
        {"\xF0\x9F\x94\xA5.hex", "\"\xF0\x9F\x94\xA5.hex\""},           // outside the BMP
        {"a\"b\\c\x01\x1F", R"("a\"b\\c\u0001\u001f")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toHex().toStdString());
        const QByteArray json = jsonString(platform::fileNameFromBytes(c.name));
        EXPECT_EQ(json, c.json);
        EXPECT_EQ(recoveredBytes(json), c.name);
        QJsonParseError error;
        QJsonDocument::fromJson("[" + json + "]", &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << "still JSON";
    }
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
