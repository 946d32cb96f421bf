// The books of a session: chips that passed and failed, port faults apart, ports dropped after three rounds
// that could not open them.
#include "production/stationbook.h"

#include <gtest/gtest.h>

namespace {

RunEnd passed(qint64 ms = 1000) {
    return {RunVerdict::Passed, false, {}, ms};
}
RunEnd failedChip(const QString& why = "Verify Error !") {
    return {RunVerdict::Failed, false, why, 1000};
}
RunEnd broke(const QString& why = "Write Error (win error code: 5): Input/output error") {
    return {RunVerdict::PortError, false, why, 500};
}
RunEnd noOpen(const QString& why = "cannot open the port ttyUSB1: No such file or directory") {
    return {RunVerdict::PortError, true, why, 2};
}

TEST(StationBook, ChipFailuresAndPortFaultsAreCountedApart) {
    StationBook book({"ttyUSB0", "ttyUSB1", "ttyUSB2"});
    book.startRound();
    book.record(0, passed());
    book.record(1, failedChip());
    book.record(2, broke());
    EXPECT_EQ(book.round(), 1);
    EXPECT_EQ(book.runningCount(), "Passed 1, failed 1, port errors 1");
    EXPECT_EQ(book.roundFailures(),
              (QStringList{"ttyUSB1: chip failed: Verify Error !",
                           "ttyUSB2: port error: Write Error (win error code: 5): Input/output error"}));
    EXPECT_FALSE(book.allPassed());

    book.startRound();
    for (int i = 0; i < 3; ++i)
        book.record(i, passed());
    EXPECT_TRUE(book.roundFailures().isEmpty()) << "only the round just ended is named";
    EXPECT_EQ(book.totalText(), "Total: passed 4, failed 1, port errors 1");
    EXPECT_EQ(book.tally(2).lastFailure, broke().failure) << "the last failure stays in the table";

    StationBook clean({"a"});
    clean.startRound();
    clean.record(0, passed());
    EXPECT_EQ(clean.runningCount(), "Passed 1, failed 0") << "no port errors, no word of them";
    EXPECT_TRUE(clean.allPassed());
}

TEST(StationBook, APortThatCannotBeOpenedThreeRoundsInARowIsDropped) {
    // Per round, how the port ended; whether it is still in the session after that round.
    const struct {
        const char* name;
        std::vector<RunEnd> rounds;
        std::vector<bool> inSession;
    } cases[] = {
        {"three in a row", {noOpen(), noOpen(), noOpen()}, {true, true, false}},
        {"an open between them starts the count again",
         {noOpen(), noOpen(), passed(), noOpen(), noOpen(), noOpen()},
         {true, true, true, true, true, false}},
        {"a failed chip in between also opened the port",
         {noOpen(), noOpen(), failedChip(), noOpen(), noOpen()},
         {true, true, true, true, true}},
        {"a line that broke after opening is no failed open",
         {broke(), broke(), broke(), broke()},
         {true, true, true, true}},
        {"gone after a break", {broke(), noOpen(), noOpen(), noOpen()}, {true, true, true, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StationBook book({"ttyUSB0", "ttyUSB1"});
        for (size_t r = 0; r < c.rounds.size(); ++r) {
            book.startRound();
            book.record(0, passed());
            const bool droppedNow = book.record(1, c.rounds[r]);
            EXPECT_EQ(book.inSession(1), c.inSession[r]) << "round " << r + 1;
            EXPECT_EQ(droppedNow, !c.inSession[r] && (r == 0 || c.inSession[r - 1])) << "round " << r + 1;
        }
        EXPECT_TRUE(book.inSession(0));
        EXPECT_TRUE(book.anyInSession());
    }

    StationBook alone({"ttyUSB0"});
    for (int r = 0; r < StationBook::openFailuresToDrop; ++r) {
        alone.startRound();
        alone.record(0, noOpen());
    }
    EXPECT_FALSE(alone.anyInSession()) << "no port left ends the session";
    EXPECT_TRUE(alone.droppedText(0).startsWith("ttyUSB0 is dropped")) << alone.droppedText(0).toStdString();
}

TEST(StationBook, TheTablesSayWhatTheirColumnsHold) {
    StationBook book({"ttyUSB0", "pts/12"});
    book.startRound();
    book.record(0, passed(11482));
    book.record(1, noOpen());
    const QStringList once = book.summary(false);
    ASSERT_EQ(once.size(), 3);
    EXPECT_TRUE(once[0].contains("Run time")) << once[0].toStdString();
    EXPECT_EQ(once[1].split(' ', Qt::SkipEmptyParts), (QStringList{"ttyUSB0", "passed", "11.5", "s"}));
    EXPECT_TRUE(once[2].startsWith("pts/12   PORT-ERROR")) << once[2].toStdString();
    EXPECT_TRUE(once[2].endsWith(noOpen().failure)) << once[2].toStdString();

    book.startRound();
    book.record(0, failedChip());
    book.record(1, noOpen());
    book.startRound();
    book.record(0, passed());
    book.record(1, noOpen());
    const QStringList rounds = book.summary(true);
    ASSERT_EQ(rounds.size(), 3);
    for (const char* column : {"Passed", "Failed", "Port errors", "Total run time", "Last failure"})
        EXPECT_TRUE(rounds[0].contains(column)) << column;
    EXPECT_EQ(rounds[1].split(' ', Qt::SkipEmptyParts).mid(0, 6),
              (QStringList{"ttyUSB0", "2", "1", "0", "13.5", "s"}));
    EXPECT_EQ(rounds[2].split(' ', Qt::SkipEmptyParts).mid(0, 7),
              (QStringList{"pts/12", "0", "0", "3", "0.0", "s", "(dropped)"}));
}

} // namespace
