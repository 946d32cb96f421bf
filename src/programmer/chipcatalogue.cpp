#include "programmer/chipcatalogue.h"

const std::array<ChipInfo, chipCount> chipCatalogue = {{
    {"AT89C2051", "ATMEL", "12V", 2048},
    {"AT89C4051", "ATMEL", "12V", 4096},
    {"AT89C51", "ATMEL", "12V", 4096},
    {"AT89C52", "ATMEL", "12V", 8192},
    {"AT89C55", "ATMEL", "12V", 20480},
    {"AT89S51", "ATMEL", "5V", 4096},
    {"AT89S52", "ATMEL", "5V", 8192},
    {"AT89S53", "ATMEL", "5V", 12288},
}};

const ChipInfo* chipAt(int chipIndex) {
    if (chipIndex < 0 || chipIndex >= chipCount) return nullptr;
    return &chipCatalogue[static_cast<size_t>(chipIndex)];
}

QString addressText(int address) {
    return QStringLiteral("%1H").arg(static_cast<uint>(address), 6, 16, QLatin1Char('0')).toUpper();
}
