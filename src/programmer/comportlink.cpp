#include "programmer/comportlink.h"

#include "serial/comport.h"
#include "serial/ecomport.h"

void ComPortLink::WriteBytes(std::span<const quint8> bytes) {
    const auto count = static_cast<std::int32_t>(bytes.size());
    if (port_.WriteBytes(bytes.data(), count) != count) throw EComPort(CError_WriteFailed);
}

int ComPortLink::ReadBytes(std::span<quint8> bytes) {
    return port_.ReadBytes(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

int ComPortLink::InputQueueCount() {
    // A closed port, or a device that cannot tell, has nothing waiting that the host could read.
    if (!port_.Connected()) return 0;
    try {
        return port_.InputQueueCount();
    } catch (const EComPort&) {
        return 0;
    }
}
