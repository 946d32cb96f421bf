#pragma once

#include "programmer/linkport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <vector>

class Sequencer;
class TCustomComPort;

// The header's line for the port, once it is open: "port: ttyUSB0 (/dev/ttyUSB0), 9600 baud, 8 data bits,
// parity None, 1 stop bits, flow control None".
QString portTraceLine(const TCustomComPort& port);
// The header's line for the time: "started: 2026-12-11T09:41:34.497+08:00 (CST)".
QString startedTraceLine();

// The wire trace: one line for every frame the host writes and for the bytes of every receive notification,
//
//     <ms since the port opened, to the microsecond>  -> or <-  <bytes in hex>  <the host's reading>
//
// for example
//
//         30.112  ->  FA 00 00  probe
//         30.478  <-  02  status 02: programmer ready
//        153.433  ->  07 07 68 65 6C 6C 6F 20 77 6F 72 6C 64 20 31 32 33 34  data frame 0, address 0000H
//
// Lines that start with "# " are notes: the header, and what the host made of the wire where the bytes do
// not say it (a wait that ended without an answer, a verify mismatch).
//
// The reading follows the host's own rules: in block mode (a read or verify is receiving) the bytes are part
// of a block frame; otherwise the first byte is a status and the rest of the notification is ignored.
//
// The trace never stands between a reply and the host's answer: a write's line is written after the write,
// and a notification's line only once the host has answered it (after its next write) or, when it sends
// nothing, from the event loop right after the handler.
class LinkTrace {
public:
    // Lines go to out, which stays the caller's unless owned; each line is flushed, so a trace survives a
    // crash.
    explicit LinkTrace(std::FILE* out, bool owned = false) : out_(out), owned_(owned) { clock_.start(); }
    ~LinkTrace();
    LinkTrace(const LinkTrace&) = delete;
    LinkTrace& operator=(const LinkTrace&) = delete;

    // The trace named on a command line: "-" is standard error, any other name a file created or emptied.
    // Null, with the reason in error, when the file cannot be opened.
    static std::unique_ptr<LinkTrace> open(const QString& name, QString& error);

    // Where each line goes in place of the file, without its line end: a terminal's owner that keeps its
    // own lines and bars apart (the command-line tool's console).
    void setSink(std::function<void(const QByteArray& line)> sink) { sink_ = std::move(sink); }
    // Put before every line ("[ttyUSB0] "), where several ports share one trace.
    void setLabel(const QString& label) { label_ = label.toUtf8(); }
    // The thread whose event loop runs the port (and writes a notification's late line); by default the one
    // that made the trace.
    void moveToThread(QThread* thread) { poster_.moveToThread(thread); }

    // The host's state, for the reading of the bytes: block index, receive mode, the continuation byte; and
    // its events that the wire does not show (a wait that ran out, a verify mismatch), noted as they happen.
    void observe(const Sequencer* sequencer);
    // Times are counted from here.
    void portOpened() { clock_.restart(); }
    qint64 elapsedMicros() const { return clock_.nsecsElapsed() / 1000; }

    // A line of its own, "# " and text, after the bytes that led to it: the header ("# port: ttyUSB0 ..."),
    // "# no answer within 1000 ms", "# verify mismatch at 000021H: ...".
    void note(const QString& text);
    // The header that makes a trace stand on its own: each line a note. Written once; later calls do nothing.
    void header(const QStringList& lines);

    // A frame written at the time atMicros (failed: the write raised).
    void sent(std::span<const quint8> bytes, qint64 atMicros, bool failed = false);
    // The bytes of one receive notification, read at atMicros: noted with the host's state now, written
    // later.
    void received(std::span<const quint8> bytes, qint64 atMicros);
    // Writes the noted notification's line, if any.
    void flushReceived();

    // What the reading of received bytes depends on: the host's state when it reads them.
    struct ReceiveState {
        bool blockMode = false;
        int blockIndex = 0;
        int frameFill = 0;
        quint8 lastByte1 = 0; // byte 1 of the last frame composed: a lone 06/07's continuation flag
        bool readFinishPending = false;
        bool afterEndFrame = false; // the end frame went out and no command since: a 03 gets no data frame
    };
    ReceiveState receiveState() const;

    // The host's reading of a frame it writes, and of bytes it receives (as the lines show them).
    QString readingOfSent(std::span<const quint8> bytes) const;
    static QString readingOfReceived(std::span<const quint8> bytes, const ReceiveState& state);

private:
    void line(qint64 atMicros, const char* direction, std::span<const quint8> bytes, const QString& reading);
    void write(const QByteArray& text);

    std::FILE* out_;
    bool owned_;
    std::function<void(const QByteArray&)> sink_;
    QByteArray label_;
    const Sequencer* sequencer_ = nullptr;
    QElapsedTimer clock_;
    // Byte 1 of the last frame written when it was a command: a block request that follows a Read command
    // asks for block 0 whatever the block index still holds.
    bool lastWasReadCommand_ = false;
    // The end frame was sent and no command since.
    bool endFrameSent_ = false;

    bool headerWritten_ = false;
    QMetaObject::Connection noAnswer_;
    QMetaObject::Connection mismatch_;

    // The notification read but not yet written, and the notes that follow it.
    QStringList pendingNotes_;
    bool pending_ = false;
    qint64 pendingAt_ = 0;
    std::vector<quint8> pendingBytes_;
    ReceiveState pendingState_;
    // Posts the late write of a notification's line to the event loop.
    QObject poster_;
};

// The link with a trace beside it: every write and read goes through unchanged, and is traced when a trace is
// set. Without one it costs a pointer test.
class TracingLink : public LinkPort {
public:
    explicit TracingLink(LinkPort& inner) : inner_(inner) {}

    void setTrace(LinkTrace* trace) { trace_ = trace; }
    LinkTrace* trace() const { return trace_; }

    void WriteBytes(std::span<const quint8> bytes) override;
    int ReadBytes(std::span<quint8> bytes) override;
    int InputQueueCount() override { return inner_.InputQueueCount(); }

private:
    LinkPort& inner_;
    LinkTrace* trace_ = nullptr;
};
