#pragma once

#include "programmer/linkport.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <memory>
#include <span>

class Sequencer;

// The wire trace: one line for every frame the host writes and for the bytes of every receive notification,
//
//     <ms since the port opened, to the microsecond>  <-> or <->  <bytes in hex>  <the host's reading>
//
// for example
//
//         31.207  ->  FA 00 00  probe
//         44.918  <-  02  status 02: programmer ready
//       1021.554  ->  07 07 02 7F ... (18 bytes)  data frame 0, address 0000H
//
// The reading follows the host's own rules: in block mode (a read or verify is receiving) the bytes are part
// of a block frame; otherwise the first byte is a status and the rest of the notification is ignored.
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

    // The host's state, for the reading of the bytes: block index, receive mode, the continuation byte.
    void observe(const Sequencer* sequencer) { sequencer_ = sequencer; }
    // Times are counted from here.
    void portOpened() { clock_.restart(); }
    qint64 elapsedMicros() const { return clock_.nsecsElapsed() / 1000; }

    // A frame written at the time atMicros (failed: the write raised).
    void sent(std::span<const quint8> bytes, qint64 atMicros, bool failed = false);
    // The bytes of one receive notification, read at atMicros.
    void received(std::span<const quint8> bytes, qint64 atMicros);

    // The host's reading of a frame it writes, and of bytes it receives (as the lines show them).
    QString readingOfSent(std::span<const quint8> bytes) const;
    QString readingOfReceived(std::span<const quint8> bytes) const;

private:
    void line(qint64 atMicros, const char* direction, std::span<const quint8> bytes, const QString& reading);

    std::FILE* out_;
    bool owned_;
    const Sequencer* sequencer_ = nullptr;
    QElapsedTimer clock_;
    // Byte 1 of the last frame written when it was a command: a block request that follows a Read command
    // asks for block 0 whatever the block index still holds.
    bool lastWasReadCommand_ = false;
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

private:
    LinkPort& inner_;
    LinkTrace* trace_ = nullptr;
};
