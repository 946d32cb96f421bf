// The log's JSON line and the per-port file names.
#include "gangrun.h"
#include "production/jsonstring.h"
#include "production/runlog.h"

#include "platform/filenames.h"

#include "support/tempconfig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

TEST(RunLog, ARecordIsOneLineOfJsonThatKeepsEveryText) {
    RunRecord r;
    r.started = QDateTime(QDate(2026, 12, 10), QTime(17, 30, 5, 120), QTimeZone(8 * 3600));
    r.round = 7;
    r.port = "/dev/serial/by-id/usb-\"odd\"\\name";
    r.chip = "AT89C2051";
    r.operation = "verify";
    r.file = QString::fromUtf8("韌體\tv2.hex");
    r.sha256 = imageSha256("abc");
    r.checksum = imageChecksum(std::vector<unsigned char>(300, 0xFF)); // 300 x FF = 0x12AD4
    r.failure = "\nError !  Please Check\x01\n";
    r.elapsedMs = 11482;
    const LogSession session{"5f0c8a2e-0000-4000-8000-000000000001", "bench-3", QString::fromUtf8("Zoë \"Z\""),
                             "2.0"};
    const QByteArray line = recordJson(r, session);
    EXPECT_FALSE(line.contains('\n'));

    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    EXPECT_EQ(QDateTime::fromString(o["time"].toString(), Qt::ISODateWithMs), r.started)
        << line.toStdString();
    EXPECT_EQ(o["port"].toString(), r.port);
    EXPECT_EQ(o["file"].toString(), *r.file);
    EXPECT_EQ(o["checksum"].toString(), "2AD4");
    EXPECT_EQ(o["sha256"].toString(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(o["failure"].toString(), r.failure);
    EXPECT_EQ(o["result"].toString(), "failed");
    EXPECT_DOUBLE_EQ(o["duration"].toDouble(), 11.482);
    EXPECT_TRUE(o["lock"].isNull()) << "no lock level for a verify";
    EXPECT_EQ(o["round"].toInt(), 7);
    EXPECT_EQ(o["session"].toString(), session.id);
    EXPECT_EQ(o["station"].toString(), "bench-3");
    EXPECT_EQ(o["operator"].toString(), session.operatorName);
    EXPECT_EQ(o["version"].toString(), "2.0");
    EXPECT_TRUE(o["output"].isNull()) << "only a read names an output";
    EXPECT_TRUE(line.startsWith("{\"time\":")) << "the fields of older lines keep their places";

    r.file.reset();
    r.chip.reset();
    r.checksum.reset();
    r.sha256.reset();
    r.lock = 3;
    r.output = "chip-ttyUSB0.bin";
    for (const auto& [verdict, text] : {std::pair{RunVerdict::Passed, "passed"},
                                        std::pair{RunVerdict::PortError, "port-error"}}) {
        r.verdict = verdict;
        const QJsonObject p = QJsonDocument::fromJson(recordJson(r, session)).object();
        for (const char* empty : {"file", "chip", "checksum", "sha256"})
            EXPECT_TRUE(p[empty].isNull()) << empty;
        EXPECT_EQ(p["lock"].toInt(), 3);
        EXPECT_EQ(p["output"].toString(), "chip-ttyUSB0.bin");
        EXPECT_EQ(p["result"].toString(), text);
    }
}

TEST(RunLog, ASessionHasOneIdAndTheStationsName) {
    const LogSession a = LogSession::make("ann", "2.0");
    const LogSession b = LogSession::make("", "2.0");
    EXPECT_EQ(a.id.size(), 36) << a.id.toStdString();
    EXPECT_NE(a.id, b.id);
    EXPECT_FALSE(a.station.isEmpty());
    EXPECT_EQ(a.operatorName, "ann");
}

TEST(RunLog, TheFilesShaIsOfItsBytesAsTheyStand) {
    QTemporaryDir dir;
    const QString path = dir.filePath("fw.hex");
    writeWholeFile(path, ":00000001FF\n");
    EXPECT_EQ(fileSha256(path), imageSha256(":00000001FF\n"));
    EXPECT_TRUE(fileSha256(dir.filePath("missing.hex")).isEmpty());
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
