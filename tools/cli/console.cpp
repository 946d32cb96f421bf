#include "console.h"

#include "outputstatus.h"

#include "platform/filenames.h"
#include "platform/terminal.h"

#include <algorithm>
#include <cerrno>

Console::Console(std::FILE* out, std::FILE* err, int bars)
    : out_(out), err_(err), columns_(platform::terminalColumns(fileno(err), 80)),
      bars_(platform::isTerminal(fileno(err)) ? static_cast<size_t>(std::max(bars, 0)) : 0) {}

Console::~Console() {
    clearBars();
}

void Console::line(std::FILE* stream, const QString& text) {
    std::lock_guard lock(mutex_);
    eraseLocked();
    // File names in the text are given back as the bytes they were given as.
    const QByteArray bytes = platform::fileNameBytes(text + QLatin1Char('\n'));
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream) !=
            static_cast<size_t>(bytes.size()) ||
        std::fflush(stream) != 0)
        noteOutputFailure(stream, errno);
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

// The cursor stands at the end of the last bar drawn; it goes back to the start of the first one, clearing
// each line on its way.
void Console::eraseLocked() {
    if (drawnLines_ == 0) return;
    QByteArray erase = "\r\033[K";
    for (int i = 1; i < drawnLines_; ++i)
        erase += "\033[A\r\033[K";
    std::fwrite(erase.constData(), 1, static_cast<size_t>(erase.size()), err_);
    std::fflush(err_);
    drawnLines_ = 0;
}

void Console::drawLocked() {
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
