#pragma once

#include "serial/comtypes.h"

#include <chrono>
#include <cstdint>
#include <vector>

// One started-then-awaited transfer. On Linux the device is non-blocking: a start moves what it can at once
// and decides from the timeouts whether the transfer is already complete; the await waits for the rest (poll
// with the time limits of the timeouts) and is woken early by AbortTransfers.
struct TComTransfer {
    TComTransferKind Kind = trWrite;
    std::vector<unsigned char>
        SentCopy; // what StartWrite was given, for the listeners' transmitted-data hook
    bool started = false;
    bool complete = false;
    unsigned char* readBuffer = nullptr;
    const unsigned char* writeBuffer = nullptr;
    std::int32_t count = 0;
    std::int32_t done = 0;
    std::uint32_t abortGeneration = 0;
    // Time limits (negative: none); firstByteOnly ends a read at the first bytes.
    std::chrono::steady_clock::time_point startedAt{};
    std::int64_t totalLimitMs = -1;
    std::int64_t intervalLimitMs = -1;
    bool firstByteOnly = false;
};
using PComTransfer = TComTransfer*;

// Allocates a record (the handle owns it until FreeTransfer) / frees it and empties the handle.
void NewTransfer(PComTransfer& AsyncPtr);
void FreeTransfer(PComTransfer& AsyncPtr);
