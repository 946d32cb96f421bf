#pragma once

#include <QString>
#include <QStringList>

// The texts of the main window's "IC Message" panel.
struct ChipPanel {
    QString company;
    QString type;
    QString vpp;
    QString bufStart;
    QString bufEnd;
    QString devStart;
    QString devEnd;
    QString checkSum;

    bool operator==(const ChipPanel&) const = default;
};

// Everything the programmer logic tells the user goes through this interface. The main window implements it;
// so do the command-line tool and the tests.
class HostView {
public:
    virtual ~HostView() = default;

    // One line of the message log.
    virtual void log(const QString& line) = 0;
    // A modal message box with a fixed text (refusals, file errors); returns when the user has closed it.
    virtual void showMessage(const QString& text) = 0;
    virtual void showChipPanel(const ChipPanel& panel) = 0;
    // The first panel of the status bar.
    virtual void setStatusBarText(const QString& text) = 0;

    // The hex view: replaced wholesale in one update, read back line by line.
    virtual void setHexLines(const QStringList& lines) = 0;
    virtual void clearHexView() = 0;
    virtual void appendHexLine(const QString& line) = 0;
    virtual QStringList hexLines() const = 0;

    // The ISP auto switch becomes available with the first dump of the code buffer.
    virtual void enableIspSwitch() = 0;
};
