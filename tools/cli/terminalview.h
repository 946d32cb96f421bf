#pragma once

#include "programmer/hostview.h"

#include <QStringList>

#include <cstdio>

// The command-line tool's side of the HostView: log lines go to standard output as they come (the same lines
// the main window's message log shows), message boxes become lines on standard error, the hex view is kept in
// memory for "read", and the progress is a bar on standard error when that is a terminal. Beeps stay silent:
// a script or a terminal has no use for the programmer's tones.
class TerminalView : public HostView {
public:
    // quiet: no progress bar, and log lines are held back; heldLines() gives them to show after a failure.
    TerminalView(std::FILE* out, std::FILE* err, bool quiet);
    ~TerminalView() override;

    void log(const QString& line) override;
    void showMessage(const QString& text) override;
    void showChipPanel(const ChipPanel&) override {}
    void setStatusBarText(const QString&) override {}
    void setHexLines(const QStringList& lines) override { hex_ = lines; }
    void clearHexView() override { hex_.clear(); }
    void appendHexLine(const QString& line) override { hex_ << line; }
    QStringList hexLines() const override { return hex_; }
    void enableIspSwitch() override {}
    void setStatus(const QString& text, StatusColour colour) override;
    void setProgress(int percent) override;
    void beep(int, int) override {}
    void raiseWindow() override {}
    void lowerWindow() override {}

    // Messages shown so far (refusals such as "Please Open *.Hex or *.Bin File Firstly !").
    const QStringList& messages() const { return messages_; }
    const QStringList& heldLines() const { return held_; }

    // Removes the progress bar from the terminal, if one is drawn.
    void clearProgress();

private:
    std::FILE* out_;
    std::FILE* err_;
    bool quiet_;
    bool bar_;
    int columns_;
    bool drawn_ = false;
    QString status_;
    bool statusIsProgress_ = false;
    QStringList hex_;
    QStringList messages_;
    QStringList held_;
};
