#pragma once

#include "simengine.h"

#include <QByteArray>
#include <QString>

// The state file: what the simulated chips hold, so that a test can check what was programmed and a user can
// keep a chip between runs. Layout:
//
//   chipwright-sim state 1\n
//   chip 0 AT89C2051 2048 lock 0\n        one line per chip index 0-7: index, type, capacity in bytes, lock
//   level
//   ...
//   chip 7 AT89S53 12288 lock 0\n
//   data\n
//   <the memory of chip 0, then of chip 1, ... chip 7, raw bytes, capacities as above>
//
// Chip k's image thus starts at (offset of the byte after "data\n") + the capacities of chips 0..k-1.
namespace sim {

QByteArray encodeState(const Engine& engine);
// Loads the memories and lock levels; on any mismatch leaves the engine as it was and explains in *error.
bool decodeState(const QByteArray& file, Engine& engine, QString* error);

// A missing file is not an error (the chips start erased); an unreadable or malformed one is.
bool loadStateFile(const QString& path, Engine& engine, QString* error);
// Replaces the file atomically: a reader sees the old state or the new one, never a mix.
bool saveStateFile(const QString& path, const Engine& engine);

} // namespace sim
