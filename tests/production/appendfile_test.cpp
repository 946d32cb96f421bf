// Appending whole records or none: a file size limit, a full disk, another writer of the same file.
#include "platform/appendfile.h"

#include "support/tempconfig.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

// Holds the process's file size limit at bytes while it lives (the limit applies to every file the process
// writes, so it is kept only around the append under test).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }
    bool ok() const { return ok_; }

private:
    rlimit old_ {};
    bool ok_ = false;
};

TEST(AppendFile, ARecordPastAFileSizeLimitIsTakenBackWholeAndTheOthersStay) {
    QTemporaryDir dir;
    const QString path = dir.filePath("chips.log");
    platform::AppendFile station1, station2;
    ASSERT_EQ(station1.open(path), "");
    ASSERT_EQ(station2.open(path), "");
    EXPECT_EQ(station1.append("first line of station 1\n"), "");
    EXPECT_EQ(station2.append("first line of station 2\n"), "");
    const QByteArray before = readWholeFile(path);

    // Room for part of the next line only (and for none of it at all): nothing of it may stay.
    for (const qsizetype room : {qsizetype(10), qsizetype(0)}) {
        SCOPED_TRACE(room);
        QString error;
        {
            FileSizeLimit limit(static_cast<rlim_t>(before.size() + room));
            ASSERT_TRUE(limit.ok());
            error = station1.append("second line of station 1, too long for the room left\n");
        }
        EXPECT_EQ(error, "File too large");
        EXPECT_EQ(readWholeFile(path), before);
    }

    // The file goes on after the limit is lifted, from its whole end.
    EXPECT_EQ(station2.append("second line of station 2\n"), "");
    EXPECT_EQ(readWholeFile(path), before + "second line of station 2\n");
}

TEST(AppendFile, AFullDiskLeavesNoHalfRecord) {
    // /dev/full takes no byte: an append fails whole, with the system's words.
    platform::AppendFile full;
    ASSERT_EQ(full.open("/dev/full"), "");
    EXPECT_EQ(full.append("a line\n"), "No space left on device");
}

TEST(AppendFile, OpenAndAppendSayWhyTheyFail) {
    QTemporaryDir dir;
    platform::AppendFile file;
    EXPECT_EQ(file.open(dir.filePath("no/such/folder/chips.log")), "No such file or directory");
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.append("x\n"), "Bad file descriptor");
    EXPECT_EQ(file.open(dir.path()), "Is a directory");
}

} // namespace
