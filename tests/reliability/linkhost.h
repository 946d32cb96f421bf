#pragma once

#include "programmer/comportlink.h"
#include "programmer/sequencer.h"
#include "serial/comport.h"
#include "support/fakeview.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <functional>

// The host as the program runs it, without a window: the serial port component, its line, the operations and
// a recording view, on this thread's event loop. Failures that a start raises are kept as the window's
// general error report would show them.
class LinkHost {
public:
    LinkHost();
    ~LinkHost();

    // Opens the device (closing the one before); false when it cannot be opened.
    bool open(const QString& device);
    // Selects the chip and loads image (data end at its last byte).
    void load(int chip, const QByteArray& image);

    // Starts an operation and serves the event loop until the host has settled: nothing armed, no transfer,
    // and quietMs without a byte or an ending (or deadlineMs passed). False when the deadline passed first.
    bool run(const std::function<void(Sequencer&)>& start, int quietMs = 100, int deadlineMs = 15000);
    // Serves the event loop for ms.
    static void serve(int ms);

    // True while a transfer or a timer of the operations still runs.
    bool busy() const;

    FakeView view;
    HostSession session{view};
    TComPort port;
    ComPortLink link{port};
    Sequencer seq{session, link};
    QStringList raised;     // texts of the failures the starts raised
    std::vector<bool> ends; // operationEnded, in order
    qint64 received = 0;

private:
    QElapsedTimer lastActivity_;
};
