#include "platform/serialdevice.h"

#include "platform/netaddress.h"

namespace platform {

std::string SerialDevice::devicePath(const std::string& portName) {
    if (!portName.empty() && portName.front() == '/') return portName;
    if (isNetworkPortName(portName)) return portName; // the network device takes the name itself
    // ./x and ../x: a path from the current folder (a socat link beside the user's files, say).
    if (portName.rfind("./", 0) == 0 || portName.rfind("../", 0) == 0) return portName;
    if (portName.size() > 3 && (portName[0] == 'C' || portName[0] == 'c') &&
        (portName[1] == 'O' || portName[1] == 'o') && (portName[2] == 'M' || portName[2] == 'm')) {
        bool digits = true;
        for (std::size_t i = 3; i < portName.size(); ++i)
            digits = digits && portName[i] >= '0' && portName[i] <= '9';
        if (digits && portName.size() <= 12) {
            const long n = std::stol(portName.substr(3));
            if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
        }
    }
    return "/dev/" + portName;
}

} // namespace platform
