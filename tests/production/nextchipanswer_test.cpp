// What the operator's answer to the next-chip question does.
#include "production/nextchipanswer.h"

#include <gtest/gtest.h>

namespace {

TEST(NextChipAnswer, OnlyEnterAloneStartsARoundAndOnlyTheStopWordsEndTheSession) {
    const struct {
        const char* line;
        NextChipAnswer answer;
    } cases[] = {
        {"", NextChipAnswer::NextRound},      {"  \t", NextChipAnswer::NextRound},
        {"\r", NextChipAnswer::NextRound},    {"q", NextChipAnswer::Stop},
        {"Q", NextChipAnswer::Stop},          {" quit ", NextChipAnswer::Stop},
        {"EXIT", NextChipAnswer::Stop},       {"Stop", NextChipAnswer::Stop},
        {"\tq\r", NextChipAnswer::Stop},      {"y", NextChipAnswer::Unclear},
        {"yes", NextChipAnswer::Unclear},     {"n", NextChipAnswer::Unclear},
        {"no", NextChipAnswer::Unclear},      {"qq", NextChipAnswer::Unclear},
        {"q uit", NextChipAnswer::Unclear},   {"\x1b[A", NextChipAnswer::Unclear},
        {"stopp", NextChipAnswer::Unclear},   {"next", NextChipAnswer::Unclear},
    };
    for (const auto& c : cases)
        EXPECT_EQ(nextChipAnswer(c.line), c.answer) << '"' << c.line << '"';
}

TEST(NextChipAnswer, AnUnclearAnswerIsQuotedWithTheAnswersTaken) {
    const QString text = unclearAnswerText("  yes please  ");
    EXPECT_TRUE(text.startsWith("\"yes please\"")) << text.toStdString();
    for (const char* word : {"Enter", "q", "quit", "exit", "stop"})
        EXPECT_TRUE(text.contains(word)) << word;
    EXPECT_LE(unclearAnswerText(QByteArray(500, 'x')).size(), 200) << "a long answer is cut";
}

} // namespace
