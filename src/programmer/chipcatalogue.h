#pragma once

#include <QString>

#include <array>

// One row of the chip catalogue; the row number is the chip index the programmer receives.
struct ChipInfo {
    const char* type;
    const char* company;
    const char* vpp;
    int capacity; // bytes

    int capacityUnits() const { return capacity / 2048; }
    int lastAddress() const { return capacity - 1; }
};

inline constexpr int chipCount = 8;
extern const std::array<ChipInfo, chipCount> chipCatalogue;

// The row of chipIndex, or nullptr outside 0..7.
const ChipInfo* chipAt(int chipIndex);

// An address as at least six upper-case hex digits followed by "H" ("0007FFH").
QString addressText(int address);
