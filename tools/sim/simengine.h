#pragma once

#include "programmer/chipcatalogue.h"
#include "programmer/linkprotocol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace sim {

// Microseconds on a monotonic clock that the caller owns; the engine never reads a clock itself.
using Micros = std::int64_t;

inline constexpr int blockSize = 16;
inline constexpr int frameSize = protocol::frameSize;

// Misbehaviour to inject, each off by default.
struct Faults {
    // Answer nothing once this many bytes have been received. Frames completed within those bytes are still
    // answered (follow-ups included); every later byte is ignored.
    std::optional<std::int64_t> silenceAfterBytes;
    // Answer the end frame of a program exchange with 0x01 (failure) instead of 0x07.
    bool failProgram = false;
    // Answer the data frame of this block with 0x01 and end the exchange (the block itself is stored).
    std::optional<int> failAfterBlock;
    // Invert the byte at this chip address in every block frame sent (the memory stays as it is).
    std::optional<int> corruptAddress;
    // Cut each block frame at these positions (ascending, 1..17) and send the pieces apart.
    std::vector<int> splitAt;
    // Appended to every status reply, in the same write.
    QByteArray extraBytes;
};

struct EngineOptions {
    // Send replies 0x06 and 0x07 as two bytes, the second 0x01 when an Auto run goes on, else 0x00.
    bool twoByteReplies = false;
    // Pause before output that follows other output of ours rather than a host frame (the first block request
    // of an Auto run, reply 0x07 after the end frame, 0x11 after the last block frame), so that the host
    // receives it separately.
    Micros replyGap = 150'000;
    // Pause between the pieces of a split block frame.
    Micros splitGap = 20'000;
    // A partial frame is dropped when no byte has arrived for this long.
    Micros frameTimeout = 250'000;
    // Time taken to program a block before the next one is requested.
    Micros blockTime = 0;
    // Wire time of one byte when output is paced (0: unpaced); gaps are counted from the end of the previous
    // piece on the wire.
    Micros byteTime = 0;
    Faults faults;
};

// The programmer's side of the link protocol: bytes in, scheduled bytes out, and the chip memories.
//
// Frames are recognised by their first byte, whatever the exchange in progress:
//   0x00-0x07 + code 0x01/0x02/0x03/0x04/0x06 + parameter   command frame (3 bytes; lock level 0-3 for
//   0x01/0x06) 0x07 0x07 + 16 bytes                                      data frame (18 bytes; no command has
//   code 0x07) 0x08 + 17 bytes                                           end frame (18 bytes; no chip has
//   index 8) 0x09 + 2 bytes / 0x10 + 2 bytes                           block request / stop (3 bytes) 0xFA
//   0x00 0x00                                            probe
// A byte that starts none of these is dropped and recognition starts again at the next byte. A frame is
// handled once all its bytes are in; a partial frame is dropped after frameTimeout without a byte. Frames
// that do not belong to the current exchange (a block request while programming, a stray data or end frame)
// are consumed whole and ignored, so their contents are never taken for commands. Every command ends whatever
// exchange was running and cancels output that was waiting for a pause.
class Engine {
public:
    explicit Engine(EngineOptions options = {});

    // Bytes that arrived at `now`.
    void receive(QByteArrayView bytes, Micros now);
    // Lets time pass: drops a timed-out partial frame. Call before takeDue.
    void advance(Micros now);
    // Output due at or before `now`, in order.
    QByteArray takeDue(Micros now);
    // The next moment at which advance or takeDue has something to do.
    std::optional<Micros> nextDeadline() const;

    const QByteArray& memory(int chip) const;
    int lockLevel(int chip) const;
    // Loading a saved state; data must have the chip's capacity and level must be 0-3, else nothing changes.
    bool setMemory(int chip, const QByteArray& data);
    bool setLockLevel(int chip, int level);

    // Increases with every change of a memory or lock level.
    std::uint64_t changeCount() const { return changes_; }
    // True while a program exchange is under way: its memory is half written, so not a moment to save.
    bool programming() const { return mode_ == Mode::Programming; }
    bool silent() const;

    // Human-readable lines about every frame in and out, for the verbose log; emptied by the call.
    QStringList takeLog();

private:
    enum class Mode { Idle, Programming, Reading };
    struct Scheduled {
        Micros due;
        QByteArray bytes;
        bool cancellable;
        QString note;
    };

    void handleFrame(const QByteArray& frame);
    void handleCommand(int chip, int code, int parameter);
    void handleData(const QByteArray& frame);
    void handleEnd();
    void handleBlockRequest();
    int frameLength() const; // of the pending input: >0 length, 0 need more bytes, -1 not a frame start
    void dropPending(const QString& why);

    void reply(const QByteArray& bytes, const QString& note);
    // After a pause; cancelled by the next command, stop or probe.
    void replyLater(const QByteArray& bytes, Micros gap, const QString& note);
    void schedule(const QByteArray& bytes, Micros gap, bool cancellable, const QString& note);
    void cancelWaiting();
    QByteArray status(quint8 code) const;
    QByteArray continued(quint8 code, bool goesOn) const;
    void sendBlockFrame(int block);
    void log(const QString& line);
    int blockCount() const;

    EngineOptions options_;
    std::array<QByteArray, chipCount> memory_;
    std::array<int, chipCount> lock_{};
    std::uint64_t changes_ = 0;

    Mode mode_ = Mode::Idle;
    int chip_ = 0;
    int block_ = 0;
    bool auto_ = false;

    QByteArray pending_;
    Micros lastInput_ = 0;
    Micros now_ = 0;
    std::int64_t received_ = 0;
    bool silentLogged_ = false;

    std::deque<Scheduled> out_;
    Micros lastDue_ = 0;  // of the latest scheduled output: keeps the output in order
    Micros lastEnd_ = 0;  // when that output has left the wire
    Micros takenEnd_ = 0; // when the output already taken has left the wire
    QStringList log_;
};

// "00 02 00": bytes as upper-case hex pairs.
QString hexBytes(QByteArrayView bytes);

} // namespace sim
