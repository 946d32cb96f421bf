#pragma once

#include "console.h"

#include "programmer/hostview.h"

#include <QStringList>

// The command-line tool's side of the HostView, one per port: log lines go to the console's log stream as
// they come (the same lines the main window's message log shows, after the port's label when several ports
// run), message boxes become lines on standard error, the hex view is kept in memory for "read", and the
// progress is the port's bar on the console. Beeps stay silent: a script or a terminal has no use for the
// programmer's tones.
class TerminalView : public HostView {
public:
    // log: where log lines go (the console's out() or err()). quiet: no progress bar, and log lines are held
    // back; releaseHeldLines() shows them after a failure. label: put before every line ("[ttyUSB0] "),
    // empty for a single port. slot: this port's bar.
    TerminalView(Console& console, std::FILE* log, bool quiet, const QString& label = {}, int slot = 0);
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

    bool quiet() const { return quiet_; }
    // Messages shown so far (refusals such as "Please Open *.Hex or *.Bin File Firstly !").
    const QStringList& messages() const { return messages_; }
    // Every line logged since startRun(), held or not.
    const QStringList& runLines() const { return run_; }
    void startRun();

    // The tool's own word on standard error ("chipwright-cli: " and the text), after the port's label.
    void toolError(const QString& text);
    // Lines on standard error as they are, after the port's label.
    void errorLine(const QString& text);
    // Shows the held lines on standard error (a quiet run that failed) and forgets them.
    void releaseHeldLines();

    // Removes the progress bar from the terminal, if one is drawn.
    void clearProgress();

private:
    QString labelled(const QString& text) const;

    Console& console_;
    std::FILE* log_;
    bool quiet_;
    QString label_;
    int slot_;
    QString status_;
    bool statusIsProgress_ = false;
    QStringList hex_;
    QStringList messages_;
    QStringList held_;
    QStringList run_;
};
