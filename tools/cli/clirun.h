#pragma once

#include "cliargs.h"

// Exit codes of chipwright-cli.
enum CliExit {
    ExitOk = 0,
    ExitFailed = 1, // the operation failed: failure reply, verify mismatch, no answer, port or line failure
    ExitUsage = 2,  // usage error, unreadable or unwritable file, image too large, file without data
};

// Runs one parsed command (not help) with the GUI's core objects: application settings and port settings read
// (never written) from the same stores as the GUI beside it, the chip catalogue, the loader and writers, the
// sequencer on the serial port component. Needs a QCoreApplication; runs its own event loop while the
// programmer works.
int runCommand(const CliOptions& options);
