#pragma once

#include <QtGlobal>

#include <span>

// What the programmer logic needs of the serial line: blocking writes of whole frames and reads of bytes that
// have already arrived. The serial port component provides it for the real line; tests use an in-process
// fake. Failures are raised as exceptions carrying the user's message.
class LinkPort {
public:
    virtual ~LinkPort() = default;
    // Sends every byte; raises on failure.
    virtual void WriteBytes(std::span<const quint8> bytes) = 0;
    // Takes up to bytes.size() bytes out of the input queue; returns how many it took.
    virtual int ReadBytes(std::span<quint8> bytes) = 0;
    // How many bytes have arrived and wait to be read, whether or not their notification was delivered yet.
    virtual int InputQueueCount() = 0;
};
