#pragma once

#include "terminalview.h"

#include "buffer/codebuffer.h"
#include "programmer/sequencer.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class LinkTrace;

// What every port of a run shares, settled on the main thread before any port is touched.
struct PortJobSetup {
    // The port's name as given, or nothing for the saved one.
    std::optional<QString> port;
    // The window's saved line settings apply (it has saved them).
    bool savedLineSettings = false;
    // The line rate in place of the saved one (--baud), for this run only.
    std::optional<int> baud;
    int chipIndex = 0;
    int lockLevel = 0;
    // The code buffer as loaded for the chip (fill byte and capacity applied).
    CodeBuffer buffer;
    // The operation: how it starts, the ending it must reach, how long an unguarded reply may take, and
    // whether it is the probe (whose silence is the ready check's "Programmer  Not  Found !").
    std::function<void(Sequencer&)> start;
    Sequencer::Ending wanted = Sequencer::Ending::None;
    int silenceMs = 3000;
    bool probe = false;
    // Called on the job's thread once the port is open, before the operation starts, with the image the run
    // programs (to give each chip its serial number): an empty text, or why the run cannot start.
    std::function<QString(CodeBuffer&)> beforeStart;
    // The wire trace's header, less the port's own line (written when the port first opens, after the first
    // of these lines).
    QStringList traceHeader;
};

// How one run on one port ended.
struct PortJobResult {
    int exit = 0;    // CliExit
    QString failure; // why it failed: the window's words where it has them, else the tool's
    bool interrupted = false;
    // The port failed rather than the chip: it could not be opened (openFailed), or its line broke.
    bool portError = false;
    bool openFailed = false;
    // The station failed rather than the port or the chip (its serial counter): it must not go on.
    bool stationFault = false;
    qint64 elapsedMs = 0;
};

// One programmer on one port: the port, its link and a sequencer of its own, living on the thread that made
// the job, which must run an event loop. A run opens the port when it is closed; a run that passed leaves it
// open for the next chip, one that failed closes it, so the next run starts on a fresh line (and an adapter
// plugged in again is found again). However a run ends, the sequencer is idle after it: nothing of a run
// that was cut short (a verify's block mode, an armed watchdog) reaches the next one.
class PortJob {
public:
    // trace: the port's wire trace, or null; the job takes it.
    PortJob(PortJobSetup setup, TerminalView& view, std::unique_ptr<LinkTrace> trace);
    ~PortJob();
    PortJob(const PortJob&) = delete;
    PortJob& operator=(const PortJob&) = delete;

    // Runs the operation once; returns when it has ended.
    PortJobResult run();
    // Ends the run under way (Ctrl+C): the port is closed in order. Call on the job's thread.
    void interrupt();

    // The session: the read image after a read, the buffer that was programmed.
    HostSession& session();
    // The port's name as used (the saved one when none was given).
    QString portName() const;

private:
    struct Parts;
    std::unique_ptr<Parts> d_;
};
