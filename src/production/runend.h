#pragma once

#include <QString>

// How one run on one port ended, as a station counts it. A port that cannot be opened, or whose line breaks
// during the run (an adapter unplugged, a write that fails), is a fault of the port, not of the chip in it:
// it is counted apart from failed chips.
enum class RunVerdict { Passed, Failed, PortError };

struct RunEnd {
    RunVerdict verdict = RunVerdict::Failed;
    // The port could not be opened at all (gone, busy, no permission).
    bool openFailed = false;
    // Why it did not pass: the window's words where it has them, else the tool's.
    QString failure;
    qint64 elapsedMs = 0;
};

// The verdict as the log and the tables write it: "passed", "failed", "port-error".
QString verdictText(RunVerdict verdict);

// text, followed by the system's own words for the error number (": Input/output error"); text as it is
// for no error number (0 or less).
QString withSystemWords(const QString& text, int systemErrorCode);
