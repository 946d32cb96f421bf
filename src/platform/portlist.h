#pragma once

#include <string>
#include <vector>

namespace platform {

// The names of the machine's real serial devices, in the form a port accepts: 8250-style ports /dev/ttyS<n>
// as "COM<n+1>", everything else (ttyUSB0, ttyACM0, ...) by its name below /dev. Placeholder ttyS entries
// without a UART behind them are skipped. Unsorted. Returns 0, or an errno when the device list cannot be
// read at all.
int listSerialDevices(std::vector<std::string>& names);

} // namespace platform
