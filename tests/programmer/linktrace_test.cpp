// The wire trace's reading of bytes, for the cases an Auto run against the simulator does not show.
#include "programmer/linktrace.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

QString received(std::vector<quint8> bytes, const LinkTrace::ReceiveState& state = {}) {
    return LinkTrace::readingOfReceived(bytes, state);
}

TEST(LinkTraceReading, StatusRepliesAndBlockFramePiecesAsTheHostTakesThem) {
    LinkTrace::ReceiveState afterAuto;
    afterAuto.lastByte1 = 0x01;
    LinkTrace::ReceiveState afterErase;
    afterErase.lastByte1 = 0x02;
    LinkTrace::ReceiveState afterEnd;
    afterEnd.afterEndFrame = true;
    LinkTrace::ReceiveState reading;
    reading.readFinishPending = true;
    LinkTrace::ReceiveState frame5;
    frame5.blockMode = true;
    frame5.blockIndex = 5;
    LinkTrace::ReceiveState frame5Half = frame5;
    frame5Half.frameFill = 10;

    struct Case {
        std::vector<quint8> bytes;
        LinkTrace::ReceiveState state;
        const char* reading;
    };
    const std::vector<Case> cases = {
        {{0x06}, afterAuto, "status 06: erase finished, auto goes on"},
        {{0x06}, afterErase, "status 06: erase finished, ends the operation"},
        {{0x07, 0x01},
         afterErase,
         "status 07: programming finished, auto goes on; bytes after the first ignored"},
        {{0x06, 0x00},
         afterAuto,
         "status 06: erase finished, ends the operation; bytes after the first ignored"},
        {{0x01}, {}, "status 01: programming failed"},
        {{0x03}, {}, "status 03: send the next data block"},
        {{0x03}, afterEnd, "status 03: send the next data block (after the end frame: none sent)"},
        {{0x09}, {}, "status 09: lock finished"},
        {{0x11}, reading, "status 11: read finished"},
        {{0x11}, {}, "status 11: read finished (no read: ignored)"},
        {{0x02, 0x03}, {}, "status 02: programmer ready; bytes after the first ignored"},
        {{0x55}, {}, "status 55: unknown, ignored"},
        {std::vector<quint8>(18, 0xAA), frame5, "block frame 5, address 0050H"},
        {std::vector<quint8>(10, 0xAA), frame5, "block frame 5 bytes 1-10 of 18"},
        {std::vector<quint8>(8, 0xAA), frame5Half, "block frame 5 bytes 11-18 of 18"},
        {std::vector<quint8>(9, 0xAA), frame5Half, "block frame 5 bytes 11-19 of 18: past the frame's end"},
        // In block mode a status byte is a frame byte, as the host takes it.
        {{0x11}, frame5, "block frame 5 bytes 1-1 of 18"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(received(c.bytes, c.state), QLatin1String(c.reading));
}

TEST(LinkTraceReading, FramesTheHostWrites) {
    LinkTrace trace(stderr);
    struct Case {
        std::vector<quint8> bytes;
        const char* reading;
    };
    const std::vector<Case> cases = {
        {{0xFA, 0x00, 0x00}, "probe"},
        {{0x00, 0x02, 0x00}, "command erase AT89C2051"},
        {{0x06, 0x03, 0x00}, "command program AT89S52"},
        {{0x04, 0x04, 0x00}, "command read AT89C55"},
        {{0x07, 0x06, 0x03}, "command lock AT89S53, lock level 3"},
        {{0x01, 0x01, 0x02}, "command auto AT89C4051, lock level 2"},
        {{0x10, 0x04, 0x00}, "stop frame"},
        {{0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "end frame"},
        {{0x55, 0x55}, "unknown frame"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(trace.readingOfSent(c.bytes), QLatin1String(c.reading));
}

} // namespace
