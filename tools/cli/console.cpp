#include "console.h"

#include "outputstatus.h"

#include "platform/filenames.h"
#include "platform/terminal.h"

#include <algorithm>
#include <cerrno>

Console::Console(std::FILE* out, std::FILE* err, int bars)
    : out_(out), err_(err), columns_(platform::terminalColumns(fileno(err), 80)),
      bars_(platform::sameTerminal(fileno(out), fileno(err)) ? static_cast<size_t>(std::max(bars, 0)) : 0),
      cells_(bars_.size()), rows_(platform::terminalRows(fileno(err), 24)) {
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
    rows_ = platform::terminalRows(fileno(err_), rows_);
}

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

void Console::setBar(int slot, const QString& text, const QString& cell) {
    if (slot < 0 || static_cast<size_t>(slot) >= bars_.size()) return;
    std::lock_guard lock(mutex_);
    const auto at = static_cast<size_t>(slot);
    if (bars_[at] == text && cells_[at] == cell) return;
    eraseLocked();
    bars_[at] = text;
    cells_[at] = text.isEmpty() ? QString() : cell;
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

QStringList Console::barLinesLocked() const {
    const int width = std::max(columns_ - 1, 1);
    QStringList lines;
    for (const QString& bar : bars_)
        if (!bar.isEmpty()) lines << bar.left(width);
    // More bars than the screen has rows for (a gang of 32 on a small terminal): the ports' short cells
    // share as few lines as they fit on, and what does not fit on the screen is left out.
    const int room = std::max(rows_ - 2, 1);
    if (lines.size() <= room) return lines;
    QStringList packed{QString()};
    for (size_t i = 0; i < bars_.size(); ++i) {
        if (bars_[i].isEmpty()) continue;
        const QString cell = cells_[i].isEmpty() ? bars_[i] : cells_[i];
        QString& last = packed.last();
        if (!last.isEmpty() && last.size() + 2 + cell.size() > width) {
            if (packed.size() == room) break;
            packed << QString();
        }
        QString& line = packed.last();
        line += (line.isEmpty() ? QString() : QStringLiteral("  ")) + cell;
    }
    for (QString& line : packed)
        line.truncate(width);
    return packed;
}

void Console::drawLocked() {
    followWidthLocked();
    const QStringList lines = barLinesLocked();
    if (lines.isEmpty()) return;
    const QByteArray text = lines.join(QLatin1Char('\n')).toUtf8();
    drawnLines_ = static_cast<int>(lines.size());
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), err_);
    std::fflush(err_);
}
