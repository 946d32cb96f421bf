#pragma once

#include <QByteArray>
#include <QString>

// What the operator answered to "Insert the next chip and press Enter (q to stop)". Only a deliberate answer
// starts a round: Enter alone. "q", "quit", "exit" and "stop" (any case) end the session, as does the end of
// the input; anything else is asked again, never taken as a yes.
enum class NextChipAnswer { NextRound, Stop, Unclear };

// The answer in one line of input (without its line break; spaces around it do not count).
NextChipAnswer nextChipAnswer(const QByteArray& line);

// The question, and what is said after an unclear answer before asking again.
QString nextChipPrompt();
QString unclearAnswerText(const QByteArray& line);
