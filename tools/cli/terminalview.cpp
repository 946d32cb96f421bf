#include "terminalview.h"

#include "platform/terminal.h"

#include <algorithm>

TerminalView::TerminalView(std::FILE* out, std::FILE* err, bool quiet)
    : out_(out), err_(err), quiet_(quiet), bar_(!quiet && platform::isTerminal(fileno(err))),
      columns_(platform::terminalColumns(fileno(err), 80)) {}

TerminalView::~TerminalView() {
    clearProgress();
}

void TerminalView::log(const QString& line) {
    if (quiet_) {
        held_ << line;
        return;
    }
    clearProgress();
    std::fputs(line.toUtf8().constData(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void TerminalView::showMessage(const QString& text) {
    clearProgress();
    messages_ << text;
    std::fputs(text.toUtf8().constData(), err_);
    std::fputc('\n', err_);
    std::fflush(err_);
}

void TerminalView::setStatus(const QString& text, StatusColour colour) {
    status_ = text;
    statusIsProgress_ = colour == StatusColour::ButtonFace;
}

void TerminalView::setProgress(int percent) {
    if (!bar_) return;
    // The operations set 0 when they end; the outcome is in the log, so the bar just goes.
    if (percent <= 0 && !statusIsProgress_) {
        clearProgress();
        return;
    }
    const int shown = std::clamp(percent, 0, 100);
    const QString label = statusIsProgress_ ? status_.simplified() : QString();
    const int width = std::clamp(columns_ - static_cast<int>(label.size()) - 4, 10, 50);
    const int filled = width * shown / 100;
    const QString line =
        QStringLiteral("\r%1 [%2%3]")
            .arg(label, QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')));
    std::fputs(line.toUtf8().constData(), err_);
    std::fflush(err_);
    drawn_ = true;
}

void TerminalView::clearProgress() {
    if (!drawn_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    drawn_ = false;
}
