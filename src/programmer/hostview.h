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

// Colours of the status label: progress, success, failure.
enum class StatusColour { ButtonFace, Success, Failure };

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

    // The status label's text and colour, and the progress bar (held within 0..100 by the view).
    virtual void setStatus(const QString& text, StatusColour colour) = 0;
    virtual void setProgress(int percent) = 0;
    // A tone; blocks for its duration, also where no sound device exists.
    virtual void beep(int frequencyHz, int durationMs) = 0;
    // The file watch brings the main window to the front while its run goes on, and sends it back after.
    virtual void raiseWindow() = 0;
    virtual void lowerWindow() = 0;
};
