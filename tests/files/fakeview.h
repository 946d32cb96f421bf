#pragma once

#include "programmer/hostview.h"

// Records what the commands tell the user.
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

    QStringList logLines;
    QStringList messages;
    ChipPanel panel;
    QString statusBar;
    QStringList hex;
    bool ispEnabled = false;
};
