#pragma once

#include "platform/serialdevice.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// The client side of a Telnet connection with the COM port control option (RFC 2217), without sockets: bytes
// from the server go in through decode, data comes out, and everything this side must send (doubled data,
// option answers, COM port commands) comes out of takeOutput. Telnet commands may arrive split at any byte.
class TelnetCodec {
public:
    enum : unsigned char {
        IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240,
        OptBinary = 0, OptSuppressGoAhead = 3, OptComPort = 44,
    };
    // COM port option commands as the client sends them; the server answers with the same code plus 100.
    enum ComCommand : unsigned char {
        SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4, SetControl = 5,
        NotifyLineState = 6, NotifyModemState = 7, SetLineStateMask = 10, SetModemStateMask = 11,
        PurgeData = 12, ServerOffset = 100,
    };
    enum class OptionState { Asked, Agreed, Refused };

    TelnetCodec();

    // The option requests a client opens with: BINARY and SUPPRESS-GO-AHEAD both ways, COM-PORT-OPTION from
    // this side. Queued for takeOutput.
    void start();

    // Appends `count` data bytes to the output, 0xFF doubled.
    void encodeData(const unsigned char* data, std::size_t count);
    // Takes a block of bytes from the server; the data bytes in it go to `data` (never more than `count`).
    void decode(const unsigned char* bytes, std::size_t count, std::vector<unsigned char>& data);

    // What is to be sent, in order; the codec forgets it.
    std::vector<unsigned char> takeOutput();
    bool hasOutput() const { return !output_.empty(); }

    // This side's COM-PORT-OPTION (WILL, answered by DO) and the two BINARY directions.
    OptionState comPort() const { return comPort_.us; }
    bool negotiated() const; // every request of start() has had its answer

    // Queues the COM port commands for a line configuration (baud rate, data size, parity, stop size, flow
    // control out and in, DTR, RTS) and expects an answer to each but DTR and RTS. Only with the option
    // agreed.
    void sendLine(const SerialLineConfig& config);
    // Answers still missing for sendLine's commands; a value the server answered differently from the one
    // asked for (a rate it could not set) makes lineRefused true.
    int pendingAnswers() const { return pending_; }
    bool lineRefused() const { return refused_; }
    // PURGE-DATA: 1 the server's receive buffer, 2 its transmit buffer. Not waited for.
    void sendPurge(unsigned char which);
    // Asks the server to report every modem-line change and the line errors (break, framing, parity,
    // overrun). Not waited for.
    void sendMasks();

    // The modem lines as the server last reported them (SerialLineBits), the number of changes of each, and
    // the line errors it reported.
    unsigned modemLines() const { return modemLines_; }
    const SerialLineChanges& lineChanges() const { return changes_; }
    const SerialErrorCounters& lineErrors() const { return errors_; }
    // Counts the modem-state notifications seen; a waiter compares it to know that something arrived.
    std::uint64_t modemNotifications() const { return modemNotifications_; }

private:
    struct Option {
        OptionState us = OptionState::Refused;   // WILL from this side
        OptionState them = OptionState::Refused; // DO asked of the server
    };
    Option* option(unsigned char code);
    void command(unsigned char verb, unsigned char code);
    void received(unsigned char verb, unsigned char code);
    void subnegotiation();
    void comCommand(unsigned char code, const std::vector<unsigned char>& value);
    // Sends a COM port command and counts on its answer: carrying the same value, any value, or none at all.
    enum class Answer { Exact, Any, None };
    void expect(unsigned char code, std::vector<unsigned char> value, Answer answer = Answer::Exact);
    void setModemState(unsigned char state);

    enum class State { Data, Iac, Verb, Sub, SubIac };
    State state_ = State::Data;
    unsigned char verb_ = 0;
    std::vector<unsigned char> sub_;
    std::vector<unsigned char> output_;
    Option binary_, sga_, comPort_;

    struct Expected {
        unsigned char code;
        std::vector<unsigned char> value; // empty: any answer will do
    };
    std::vector<Expected> expected_;
    int pending_ = 0;
    bool refused_ = false;

    unsigned modemLines_ = 0;
    SerialLineChanges changes_;
    SerialErrorCounters errors_;
    std::uint64_t modemNotifications_ = 0;
};

} // namespace platform
