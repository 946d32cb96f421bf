#pragma once

#include <QtGlobal>

// The bytes of the link between the host and the programmer, as both ends use them.
namespace protocol {

// What the host sends: the probe [FA 00 00] some 30 ms after the port opened, a command [code parameter
// chip], data frames [07 07 and 16 bytes], the end frame [08 ...], block requests and the stop frame.
inline constexpr quint8 probeByte = 0xFA;
inline constexpr int probeDelayMs = 30;
inline constexpr quint8 dataFrame = 0x07;
inline constexpr quint8 endFrame = 0x08;
inline constexpr quint8 blockRequest = 0x09;
inline constexpr quint8 stopFrame = 0x10;
inline constexpr int frameSize = 18;

// The command codes.
inline constexpr quint8 commandAuto = 0x01;
inline constexpr quint8 commandErase = 0x02;
inline constexpr quint8 commandProgram = 0x03;
inline constexpr quint8 commandRead = 0x04;
inline constexpr quint8 commandLock = 0x06;

// The programmer's one-byte statuses.
inline constexpr quint8 statusFailed = 0x01;
inline constexpr quint8 statusReady = 0x02;
inline constexpr quint8 statusNextBlock = 0x03;
inline constexpr quint8 statusErased = 0x06;
inline constexpr quint8 statusProgrammed = 0x07;
inline constexpr quint8 statusLocked = 0x09;
inline constexpr quint8 statusReadFinished = 0x11;

} // namespace protocol
