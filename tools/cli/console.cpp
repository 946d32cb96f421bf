#include "console.h"

#include "platform/filenames.h"
#include "platform/terminal.h"

#include <algorithm>

Console::Console(std::FILE* out, std::FILE* err, int bars)
    : out_(out), err_(err), columns_(platform::terminalColumns(fileno(err), 80)),
      bars_(platform::sameTerminal(fileno(out), fileno(err)) ? static_cast<size_t>(std::max(bars, 0)) : 0) {
    if (bars_.empty()) return;
    platform::watchTerminalResizes();
    resizesSeen_ = platform::terminalResizes();
}

int Console::columns() {
    std::lock_guard lock(mutex_);
    followWidthLocked();
    return columns_;
}

void Console::followWidthLocked() {
    const unsigned resizes = platform::terminalResizes();
    if (resizes == resizesSeen_) return;
    resizesSeen_ = resizes;
    columns_ = platform::terminalColumns(fileno(err_), columns_);
}

Console::~Console() {
    clearBars();
}

void Console::line(std::FILE* stream, const QString& text) {
    std::lock_guard lock(mutex_);
    eraseLocked();
    // File names in the text are given back as the bytes they were given as.
    const QByteArray bytes = platform::fileNameBytes(text + QLatin1Char('\n'));
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
    drawLocked();
}

void Console::setBar(int slot, const QString& text) {
    if (slot < 0 || static_cast<size_t>(slot) >= bars_.size()) return;
    std::lock_guard lock(mutex_);
    if (bars_[static_cast<size_t>(slot)] == text) return;
    eraseLocked();
    bars_[static_cast<size_t>(slot)] = text;
    drawLocked();
}

void Console::clearBars() {
    std::lock_guard lock(mutex_);
    eraseLocked();
    for (QString& bar : bars_)
        bar.clear();
}

void Console::endInterruptedLine() {
    if (!platform::isTerminal(fileno(err_))) return;
    std::lock_guard lock(mutex_);
    // The bars stay as they were last drawn; the next lines start below them.
    std::fwrite("\n", 1, 1, err_);
    std::fflush(err_);
    drawnLines_ = 0;
}

// The cursor stands at the end of the last bar drawn; it goes back to the start of the first one and clears
// the screen from there. A terminal that wrapped the bars when it got narrower keeps the upper part of a
// wrapped bar rather than lose a line above the bars.
void Console::eraseLocked() {
    if (drawnLines_ == 0) return;
    QByteArray erase = "\r";
    for (int i = 1; i < drawnLines_; ++i)
        erase += "\033[A";
    erase += "\033[J";
    std::fwrite(erase.constData(), 1, static_cast<size_t>(erase.size()), err_);
    std::fflush(err_);
    drawnLines_ = 0;
}

void Console::drawLocked() {
    followWidthLocked();
    QByteArray text;
    for (const QString& bar : bars_) {
        if (bar.isEmpty()) continue;
        if (drawnLines_ > 0) text += '\n';
        text += bar.left(std::max(columns_ - 1, 1)).toUtf8();
        ++drawnLines_;
    }
    if (text.isEmpty()) return;
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), err_);
    std::fflush(err_);
}
