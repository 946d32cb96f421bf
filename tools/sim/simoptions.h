#pragma once

#include "simengine.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace sim {

// Everything the command line sets.
struct SimOptions {
    EngineOptions engine;
    QString statePath;
    bool verbose = false;
    std::optional<std::int64_t> exitAfterIdleMs;
    bool exitOnStdinClose = false;
    // Close the pseudo-terminal (an unplugged adapter) once this many bytes have been received.
    std::optional<std::int64_t> hangupAfterBytes;
    // Wire pacing: 0 sends and takes bytes as fast as the pseudo-terminal does.
    int baud = 0;
};

struct ParsedArguments {
    SimOptions options;
    bool help = false;
    bool version = false;
    QString error; // non-empty: a usage error
};

// arguments without the program name.
ParsedArguments parseArguments(const QStringList& arguments);
QString helpText();

} // namespace sim
