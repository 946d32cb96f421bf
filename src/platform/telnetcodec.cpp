#include "platform/telnetcodec.h"

#include <algorithm>

namespace platform {

namespace {

// A COM port subnegotiation carries at most a four-byte rate or a short signature; anything longer is kept
// only up to this size, so a hostile server cannot grow the buffer.
constexpr std::size_t maxSubnegotiation = 64;

} // namespace

TelnetCodec::TelnetCodec() = default;

TelnetCodec::Option* TelnetCodec::option(unsigned char code) {
    switch (code) {
    case OptBinary:
        return &binary_;
    case OptSuppressGoAhead:
        return &sga_;
    case OptComPort:
        return &comPort_;
    default:
        return nullptr;
    }
}

void TelnetCodec::command(unsigned char verb, unsigned char code) {
    output_.insert(output_.end(), {IAC, verb, code});
}

void TelnetCodec::start() {
    binary_.us = binary_.them = OptionState::Asked;
    sga_.us = sga_.them = OptionState::Asked;
    comPort_.us = OptionState::Asked;
    command(WILL, OptBinary);
    command(DO, OptBinary);
    command(WILL, OptSuppressGoAhead);
    command(DO, OptSuppressGoAhead);
    command(WILL, OptComPort);
}

bool TelnetCodec::negotiated() const {
    for (const Option* o : {&binary_, &sga_})
        if (o->us == OptionState::Asked || o->them == OptionState::Asked) return false;
    return comPort_.us != OptionState::Asked;
}

void TelnetCodec::encodeData(const unsigned char* data, std::size_t count) {
    output_.reserve(output_.size() + count);
    for (std::size_t i = 0; i < count; ++i) {
        output_.push_back(data[i]);
        if (data[i] == IAC) output_.push_back(IAC);
    }
}

std::vector<unsigned char> TelnetCodec::takeOutput() {
    std::vector<unsigned char> out;
    out.swap(output_);
    return out;
}

// Answers the server's WILL/WONT/DO/DONT. An answer to this side's own request only settles the request;
// anything else gets a reply, and only when it changes the state, so two sides never echo each other forever.
void TelnetCodec::received(unsigned char verb, unsigned char code) {
    Option* o = option(code);
    const bool wanted = o != nullptr && code != OptComPort;
    switch (verb) {
    case DO: // the server asks this side to use the option
        if (!o) {
            command(WONT, code);
        } else if (o->us == OptionState::Asked) {
            o->us = OptionState::Agreed;
        } else if (o->us == OptionState::Refused) {
            o->us = OptionState::Agreed;
            command(WILL, code);
        }
        break;
    case DONT:
        if (o && o->us != OptionState::Refused) {
            const bool asked = o->us == OptionState::Asked;
            o->us = OptionState::Refused;
            if (!asked) command(WONT, code);
        }
        break;
    case WILL: // the server offers to use the option
        if (!wanted) {
            command(DONT, code);
        } else if (o->them == OptionState::Asked) {
            o->them = OptionState::Agreed;
        } else if (o->them == OptionState::Refused) {
            o->them = OptionState::Agreed;
            command(DO, code);
        }
        break;
    case WONT:
        if (o && o->them != OptionState::Refused) {
            const bool asked = o->them == OptionState::Asked;
            o->them = OptionState::Refused;
            if (!asked) command(DONT, code);
        }
        break;
    default:
        break;
    }
}

void TelnetCodec::decode(const unsigned char* bytes, std::size_t count, std::vector<unsigned char>& data) {
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char b = bytes[i];
        switch (state_) {
        case State::Data:
            if (b == IAC)
                state_ = State::Iac;
            else
                data.push_back(b);
            break;
        case State::Iac:
            if (b == IAC) {
                data.push_back(IAC);
                state_ = State::Data;
            } else if (b == WILL || b == WONT || b == DO || b == DONT) {
                verb_ = b;
                state_ = State::Verb;
            } else if (b == SB) {
                sub_.clear();
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, GA, DM, BRK and the like carry nothing for a serial line
            }
            break;
        case State::Verb:
            received(verb_, b);
            state_ = State::Data;
            break;
        case State::Sub:
            if (b == IAC)
                state_ = State::SubIac;
            else if (sub_.size() < maxSubnegotiation)
                sub_.push_back(b);
            break;
        case State::SubIac:
            if (b == SE) {
                subnegotiation();
                state_ = State::Data;
            } else {
                // IAC IAC is a 0xFF of the value; any other command inside a subnegotiation is malformed
                // and taken as its end.
                if (b == IAC && sub_.size() < maxSubnegotiation) sub_.push_back(IAC);
                state_ = b == IAC ? State::Sub : State::Data;
            }
            break;
        }
    }
}

void TelnetCodec::subnegotiation() {
    if (sub_.size() < 2 || sub_[0] != OptComPort) return;
    const unsigned char code = sub_[1];
    const std::vector<unsigned char> value(sub_.begin() + 2, sub_.end());
    comCommand(code, value);
}

void TelnetCodec::comCommand(unsigned char code, const std::vector<unsigned char>& value) {
    if (code == ServerOffset + NotifyModemState) {
        if (!value.empty()) setModemState(value[0]);
        return;
    }
    if (code == ServerOffset + NotifyLineState) {
        if (value.empty()) return;
        const unsigned char s = value[0];
        if (s & 0x02) ++errors_.overrun;
        if (s & 0x04) ++errors_.parity;
        if (s & 0x08) ++errors_.frame;
        if (s & 0x10) ++errors_.brk;
        return;
    }
    if (code <= ServerOffset) return;
    const unsigned char asked = static_cast<unsigned char>(code - ServerOffset);
    const auto it = std::find_if(expected_.begin(), expected_.end(),
                                 [&](const Expected& e) { return e.code == asked; });
    if (it == expected_.end()) return; // an answer nobody waits for (the masks, a purge)
    if (!it->value.empty() && it->value != value) refused_ = true;
    expected_.erase(it);
    pending_ = static_cast<int>(expected_.size());
}

void TelnetCodec::setModemState(unsigned char state) {
    ++modemNotifications_;
    unsigned lines = 0;
    if (state & 0x10) lines |= LineCTS;
    if (state & 0x20) lines |= LineDSR;
    if (state & 0x40) lines |= LineRing;
    if (state & 0x80) lines |= LineRLSD;
    // The delta bits count a change the server saw even when the line is back where it was; a changed level
    // without its delta bit counts too.
    const unsigned changed = lines ^ modemLines_;
    if ((state & 0x01) || (changed & LineCTS)) ++changes_.cts;
    if ((state & 0x02) || (changed & LineDSR)) ++changes_.dsr;
    if ((state & 0x04) || (changed & LineRing)) ++changes_.ring;
    if ((state & 0x08) || (changed & LineRLSD)) ++changes_.rlsd;
    modemLines_ = lines;
}

void TelnetCodec::expect(unsigned char code, std::vector<unsigned char> value, Answer answer) {
    output_.insert(output_.end(), {IAC, SB, OptComPort, code});
    for (unsigned char b : value) {
        output_.push_back(b);
        if (b == IAC) output_.push_back(IAC);
    }
    output_.insert(output_.end(), {IAC, SE});
    if (answer == Answer::None) return;
    if (answer == Answer::Any) value.clear();
    expected_.push_back({code, std::move(value)});
    pending_ = static_cast<int>(expected_.size());
}

void TelnetCodec::sendLine(const SerialLineConfig& c) {
    refused_ = false;
    expected_.clear(); // answers to an earlier configuration that never came are not waited for again
    const auto rate = static_cast<std::uint32_t>(c.baudRate);
    expect(SetBaudRate, {static_cast<unsigned char>(rate >> 24), static_cast<unsigned char>(rate >> 16),
                         static_cast<unsigned char>(rate >> 8), static_cast<unsigned char>(rate)});
    expect(SetDataSize, {static_cast<unsigned char>(std::clamp(c.dataBits, 5, 8))});
    // 1 none, 2 odd, 3 even, 4 mark, 5 space: the device's order plus one.
    expect(SetParity, {static_cast<unsigned char>(std::clamp(c.parity, 0, 4) + 1)});
    // 1 one, 2 two, 3 one and a half.
    expect(SetStopSize, {static_cast<unsigned char>(c.stopBits == 0 ? 1 : c.stopBits == 1 ? 3 : 2)});
    // The control settings are answered with the state the server ended in, which need not be the request
    // (a server without the feature answers what it has): any answer confirms them.
    const unsigned char outFlow = c.ctsFlow ? 3 : c.xonXoffOut ? 2 : 1;
    const unsigned char inFlow = c.rtsHandshake ? 16 : c.xonXoffIn ? 15 : 14;
    expect(SetControl, {outFlow}, Answer::Any);
    expect(SetControl, {inFlow}, Answer::Any);
    // ser2net leaves DTR and RTS unanswered when its device has no modem lines (a pseudo-terminal), as a
    // local port ignores them there too: they are sent, not waited for.
    expect(SetControl, {static_cast<unsigned char>(c.dtrMode != 0 ? 8 : 9)}, Answer::None);
    if (!c.rtsHandshake)
        expect(SetControl, {static_cast<unsigned char>(c.rtsMode == 1 || c.rtsMode == 2 ? 11 : 12)},
               Answer::None);
}

void TelnetCodec::sendPurge(unsigned char which) {
    output_.insert(output_.end(), {IAC, SB, OptComPort, PurgeData, which, IAC, SE});
}

void TelnetCodec::sendMasks() {
    output_.insert(output_.end(), {IAC, SB, OptComPort, SetModemStateMask, 0xFF, 0xFF, IAC, SE});
    output_.insert(output_.end(), {IAC, SB, OptComPort, SetLineStateMask, 0x1E, IAC, SE});
}

} // namespace platform
