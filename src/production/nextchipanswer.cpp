#include "production/nextchipanswer.h"

NextChipAnswer nextChipAnswer(const QByteArray& line) {
    const QByteArray word = line.trimmed().toLower();
    if (word.isEmpty()) return NextChipAnswer::NextRound;
    if (word == "q" || word == "quit" || word == "exit" || word == "stop") return NextChipAnswer::Stop;
    return NextChipAnswer::Unclear;
}

QString nextChipPrompt() {
    return QStringLiteral("Insert the next chip and press Enter (q to stop)");
}

QString unclearAnswerText(const QByteArray& line) {
    return QStringLiteral("\"%1\" is no answer here: press Enter alone for the next chip, or type q, quit, "
                          "exit or stop to end")
        .arg(QString::fromUtf8(line.trimmed()).left(40));
}
