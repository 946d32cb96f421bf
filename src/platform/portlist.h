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

// Why nothing may be written to the device at devicePath by a probe, or empty when it may: "the kernel's
// console" for /dev/console, /dev/tty, a virtual terminal /dev/tty<n> and every device the kernel writes its
// console to (sysRoot/class/tty/console/active: a board whose console is ttyS0), and "no hardware behind it"
// for a placeholder ttyS. Links are followed first (a by-id name, COM1's /dev/ttyS0 through a link). devRoot
// and sysRoot as above.
std::string probeRefusal(const std::string& devicePath, const std::string& sysRoot = "/sys",
                         const std::string& devRoot = "/dev");

} // namespace platform
