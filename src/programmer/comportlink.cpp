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
