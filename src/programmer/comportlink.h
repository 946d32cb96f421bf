#pragma once

#include "programmer/linkport.h"

class TCustomComPort;

// The programmer's line on the serial port component.
class ComPortLink : public LinkPort {
public:
    explicit ComPortLink(TCustomComPort& port) : port_(port) {}

    // Raises the port's failure; a write that times out part-way raises too, since a frame cut short would
    // leave the programmer waiting for bytes that never come.
    void WriteBytes(std::span<const quint8> bytes) override;
    int ReadBytes(std::span<quint8> bytes) override;
    int InputQueueCount() override;

private:
    TCustomComPort& port_;
};
