#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

inline QString fixture(const char* name) {
    return QStringLiteral(FIXTURE_DIR "/") + QLatin1String(name);
}

// One Intel HEX record with its checksum, without a line end.
inline QByteArray hexRecord(int address, const std::vector<uint8_t>& bytes, int type = 0) {
    QByteArray body;
    body.append(static_cast<char>(bytes.size()));
    body.append(static_cast<char>(address >> 8));
    body.append(static_cast<char>(address));
    body.append(static_cast<char>(type));
    for (uint8_t b : bytes)
        body.append(static_cast<char>(b));
    uint8_t sum = 0;
    for (char c : body)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    body.append(static_cast<char>(static_cast<uint8_t>(-sum)));
    return ':' + body.toHex().toUpper();
}
