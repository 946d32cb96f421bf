#pragma once

#include <QString>

#include <span>

// Whether a chip read back is blank: every byte FF.
struct BlankCheck {
    int notBlank = 0;      // how many bytes are not FF
    int firstAddress = -1; // the first of them
    unsigned char firstByte = 0xFF;

    static BlankCheck of(std::span<const unsigned char> chip);
    bool blank() const { return notBlank == 0; }
    // "Chip is blank", or "Chip is not blank: 3 bytes are not FF, the first at 0010H holds 5AH".
    QString text() const;
};
