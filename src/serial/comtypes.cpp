#include "serial/comtypes.h"

namespace {
constexpr int eventCodes[10] = {1, 4, 2, 256, 64, 8, 16, 128, 32, 1024};
}

int EventCode(TComEvent event) {
    const int i = static_cast<int>(event);
    return i >= 0 && i < 10 ? eventCodes[i] : 0;
}

std::uint32_t EventsToMask(TComEvents events) {
    std::uint32_t mask = 0;
    for (int i = 0; i < 10; ++i)
        if (events.contains(static_cast<TComEvent>(i))) mask |= static_cast<std::uint32_t>(eventCodes[i]);
    return mask;
}

TComEvents MaskToEvents(std::uint32_t mask) {
    TComEvents events;
    for (int i = 0; i < 10; ++i)
        if (mask & static_cast<std::uint32_t>(eventCodes[i])) events.insert(static_cast<TComEvent>(i));
    return events;
}
