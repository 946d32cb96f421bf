#pragma once

#include "programmer/hostview.h"

#include <utility>
#include <vector>

// Records what the programmer logic tells the user, in order.
class FakeView : public HostView {
public:
    void log(const QString& line) override { logLines << line; }
    void showMessage(const QString& text) override { messages << text; }
    void showChipPanel(const ChipPanel& p) override { panel = p; }
    void setStatusBarText(const QString& text) override { statusBar = text; }
    void setHexLines(const QStringList& lines) override { hex = lines; }
    void clearHexView() override { hex.clear(); }
    void appendHexLine(const QString& line) override { hex << line; }
    QStringList hexLines() const override { return hex; }
    void enableIspSwitch() override { ispEnabled = true; }
    void setStatus(const QString& text, StatusColour colour) override {
        statusText = text;
        statusColour = colour;
    }
    void setProgress(int percent) override { progress = percent; }
    void beep(int frequencyHz, int durationMs) override { beeps.emplace_back(frequencyHz, durationMs); }
    void raiseWindow() override { raised = true; }
    void lowerWindow() override { raised = false; }

    QStringList logLines;
    QStringList messages;
    ChipPanel panel;
    QString statusBar;
    QStringList hex;
    bool ispEnabled = false;
    QString statusText;
    StatusColour statusColour = StatusColour::ButtonFace;
    int progress = 0;
    std::vector<std::pair<int, int>> beeps;
    bool raised = false;
};
