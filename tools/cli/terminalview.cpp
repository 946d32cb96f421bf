#include "terminalview.h"

#include <algorithm>

QString TerminalView::labelled(const QString& text) const {
    if (label_.isEmpty()) return text;
    // Several ports: every line of the text carries the port's label, and blank lines go.
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty()) lines << label_ + line;
    return lines.join(QLatin1Char('\n'));
}

TerminalView::TerminalView(Console& console, std::FILE* log, bool quiet, const QString& label, int slot)
    : console_(console), log_(log), quiet_(quiet), label_(label), slot_(slot) {}

TerminalView::~TerminalView() {
    clearProgress();
}

void TerminalView::log(const QString& line) {
    run_ << line;
    if (quiet_) {
        held_ << line;
        return;
    }
    console_.line(log_, labelled(line));
}

void TerminalView::showMessage(const QString& text) {
    messages_ << text;
    console_.line(console_.err(), labelled(text));
}

void TerminalView::startRun() {
    run_.clear();
    held_.clear();
}

void TerminalView::toolError(const QString& text) {
    errorLine(Console::toolPrefix() + text);
}

void TerminalView::errorLine(const QString& text) {
    console_.line(console_.err(), labelled(text));
}

void TerminalView::releaseHeldLines() {
    for (const QString& line : held_)
        console_.line(console_.err(), labelled(line));
    held_.clear();
}

void TerminalView::setStatus(const QString& text, StatusColour colour) {
    status_ = text;
    statusIsProgress_ = colour == StatusColour::ButtonFace;
}

void TerminalView::setProgress(int percent) {
    if (quiet_ || !console_.showsBars()) return;
    // The operations set 0 when they end; the outcome is in the log, so the bar just goes.
    if (percent <= 0 && !statusIsProgress_) {
        clearProgress();
        return;
    }
    const int shown = std::clamp(percent, 0, 100);
    // The status names the step ("Programming   45%"); its number is left out, because the sequencer sets
    // the status after the progress: the percentage shown is the one the bar is filled to.
    QString step = statusIsProgress_ ? status_.simplified() : QString();
    if (const qsizetype space = step.lastIndexOf(QLatin1Char(' ')); space > 0 && step.endsWith(QLatin1Char('%')))
        step.truncate(space);
    const QString label = label_ + step;
    const QString number = QStringLiteral(" %1%").arg(shown, 3);
    const int width =
        std::clamp(console_.columns() - static_cast<int>(label.size() + number.size()) - 4, 10, 50);
    const int filled = width * shown / 100;
    console_.setBar(slot_,
                    QStringLiteral("%1 [%2%3]%4")
                        .arg(label, QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')),
                             number),
                    QStringLiteral("%1%2").arg(label_.isEmpty() ? QStringLiteral("port") : label_.trimmed(), number));
}

void TerminalView::clearProgress() {
    console_.setBar(slot_, QString());
}
