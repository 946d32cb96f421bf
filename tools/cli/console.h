#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <mutex>
#include <vector>

// The tool's terminal output, shared by every port that runs at once: whole lines to standard output or
// standard error, and one progress bar per port at the bottom of the screen when standard output and
// standard error are the same terminal (piped through tee, for example, every line stays a plain line).
// Lines from different threads never mix, and a line never lands inside a bar: the bars are taken away, the
// line written, and the bars drawn again under it. A terminal that changes its width gets the bars at the
// new width.
class Console {
public:
    // bars: how many ports may show a bar (none when out and err are not one terminal, or the run is quiet).
    Console(std::FILE* out, std::FILE* err, int bars);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    std::FILE* out() const { return out_; }
    std::FILE* err() const { return err_; }
    bool showsBars() const { return !bars_.empty(); }
    // The terminal's width now.
    int columns();

    // Writes text and a line break to stream (out() or err()).
    void line(std::FILE* stream, const QString& text);
    // The tool's own word on standard error: "chipwright-cli: " and the text.
    void toolError(const QString& text) { line(err_, toolPrefix() + text); }
    static QString toolPrefix() { return QStringLiteral("chipwright-cli: "); }
    // The bar of port slot: a text that fits on one line, or empty for none; cell, its short form for a
    // terminal with fewer rows than bars, where the cells of all ports share a few lines ("pts/3 45%").
    void setBar(int slot, const QString& text, const QString& cell = {});
    // Takes every bar away (the end of a run).
    void clearBars();
    // After Ctrl+C: the terminal has echoed "^C" where the cursor stood; the line is ended there, so that
    // what follows starts on a line of its own.
    void endInterruptedLine();

private:
    void eraseLocked();
    void drawLocked();
    void followWidthLocked();
    // The lines the bars take on the screen now.
    QStringList barLinesLocked() const;

    std::mutex mutex_;
    std::FILE* out_;
    std::FILE* err_;
    int columns_;
    unsigned resizesSeen_ = 0;
    std::vector<QString> bars_;
    std::vector<QString> cells_;
    int rows_;
    int drawnLines_ = 0;
};
