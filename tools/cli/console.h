#pragma once

#include <QString>

#include <cstdio>
#include <mutex>
#include <vector>

// The tool's terminal output, shared by every port that runs at once: whole lines to standard output or
// standard error, and one progress bar per port at the bottom of standard error when that is a terminal.
// Lines from different threads never mix, and a line never lands inside a bar: the bars are taken away, the
// line written, and the bars drawn again under it.
class Console {
public:
    // bars: how many ports may show a bar (none when err is not a terminal or the run is quiet).
    Console(std::FILE* out, std::FILE* err, int bars);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    std::FILE* out() const { return out_; }
    std::FILE* err() const { return err_; }
    bool showsBars() const { return !bars_.empty(); }
    int columns() const { return columns_; }

    // Writes text and a line break to stream (out() or err()).
    void line(std::FILE* stream, const QString& text);
    // The tool's own word on standard error: "chipwright-cli: " and the text.
    void toolError(const QString& text) { line(err_, toolPrefix() + text); }
    static QString toolPrefix() { return QStringLiteral("chipwright-cli: "); }
    // The bar of port slot: a text that fits on one line, or empty for none.
    void setBar(int slot, const QString& text);
    // Takes every bar away (the end of a run).
    void clearBars();

private:
    void eraseLocked();
    void drawLocked();

    std::mutex mutex_;
    std::FILE* out_;
    std::FILE* err_;
    int columns_;
    std::vector<QString> bars_;
    int drawnLines_ = 0;
};
