#pragma once

#include <string>
#include <vector>

namespace platform {

// The names of the machine's real serial devices, in the form a port accepts: 8250-style ports /dev/ttyS<n>
// as "COM<n+1>", everything else (ttyUSB0, ttyACM0, ...) by its name below /dev. Placeholder ttyS entries
// without a UART behind them are skipped. Unsorted. Returns 0, or an errno when the device list cannot be
// read at all.
int listSerialDevices(std::vector<std::string>& names);

// The kernel names (ttyS0, ttyUSB0) of the devices listSerialDevices lists, from a device tree rooted at
// sysRoot and devRoot ("/sys" and "/dev" on the machine, a fake tree in tests).
int listSerialTtys(std::vector<std::string>& ttys, const std::string& sysRoot, const std::string& devRoot);
// The port name of a kernel name: ttyS<n> is COM<n+1>, any other name stays.
std::string portNameOfTty(const std::string& tty);

} // namespace platform
