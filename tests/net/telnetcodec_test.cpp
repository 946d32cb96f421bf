// The Telnet / COM port control codec on its own: bytes in, bytes out, no sockets.
#include "platform/telnetcodec.h"

#include <gtest/gtest.h>

#include <vector>

using platform::TelnetCodec;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr unsigned char IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

// Feeds the bytes in pieces of `step` and returns the data that came out.
Bytes decodeInSteps(TelnetCodec& codec, const Bytes& in, std::size_t step) {
    Bytes data;
    for (std::size_t i = 0; i < in.size(); i += step)
        codec.decode(in.data() + i, std::min(step, in.size() - i), data);
    return data;
}

// The server's answer to a COM port command: the code plus 100 and a value.
Bytes answer(unsigned char code, Bytes value) {
    Bytes b{IAC, SB, 44, static_cast<unsigned char>(code + 100)};
    for (unsigned char v : value) {
        b.push_back(v);
        if (v == IAC) b.push_back(IAC);
    }
    b.insert(b.end(), {IAC, SE});
    return b;
}

Bytes agreeAll() {
    return {IAC, DO, 0, IAC, WILL, 0, IAC, DO, 3, IAC, WILL, 3, IAC, DO, 44};
}

} // namespace

TEST(TelnetCodec, DataFullOfFFIsDoubledOutAndUndoubledInAtEverySplit) {
    Bytes image(300, 0xFF);
    for (std::size_t i = 0; i < image.size(); i += 7) image[i] = static_cast<unsigned char>(i);
    TelnetCodec out;
    out.encodeData(image.data(), image.size());
    const Bytes wire = out.takeOutput();
    std::size_t ffs = 0;
    for (unsigned char b : image) ffs += b == 0xFF;
    EXPECT_EQ(wire.size(), image.size() + ffs);
    EXPECT_TRUE(out.takeOutput().empty());

    for (std::size_t step : {std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(64), wire.size()}) {
        TelnetCodec in;
        EXPECT_EQ(decodeInSteps(in, wire, step), image) << "pieces of " << step;
        EXPECT_FALSE(in.hasOutput());
    }
}

TEST(TelnetCodec, NegotiatesBinarySuppressGoAheadAndComPortAndAnswersOnlyWhatIsNew) {
    TelnetCodec codec;
    codec.start();
    EXPECT_EQ(codec.takeOutput(), (Bytes{IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 44}));
    EXPECT_FALSE(codec.negotiated());

    // The answers, split one byte at a time, with data between them.
    Bytes in = agreeAll();
    in.insert(in.begin() + 6, {'a', 'b'});
    EXPECT_EQ(decodeInSteps(codec, in, 1), (Bytes{'a', 'b'}));
    EXPECT_TRUE(codec.negotiated());
    EXPECT_EQ(codec.comPort(), TelnetCodec::OptionState::Agreed);
    EXPECT_TRUE(codec.takeOutput().empty()) << "answers to our own requests need no reply";

    // Offers of options the client does not use are refused; a repeated agreement is not answered again.
    Bytes data;
    const Bytes offers{IAC, WILL, 1, IAC, DO, 24, IAC, DO, 0, IAC, 241, IAC, 249};
    codec.decode(offers.data(), offers.size(), data);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(codec.takeOutput(), (Bytes{IAC, DONT, 1, IAC, WONT, 24}));
}

TEST(TelnetCodec, AServerThatRefusesComPortIsSeen) {
    TelnetCodec codec;
    codec.start();
    codec.takeOutput();
    const Bytes in{IAC, DO, 0, IAC, WILL, 0, IAC, DO, 3, IAC, WILL, 3, IAC, DONT, 44};
    Bytes data;
    codec.decode(in.data(), in.size(), data);
    EXPECT_TRUE(codec.negotiated());
    EXPECT_EQ(codec.comPort(), TelnetCodec::OptionState::Refused);
    EXPECT_TRUE(codec.takeOutput().empty());
}

TEST(TelnetCodec, LineSettingsGoOutAsComPortCommandsAndCountTheirAnswers) {
    platform::SerialLineConfig c;
    c.baudRate = 0x0001FFFF; // a rate with a 0xFF byte in it, which must be doubled inside the command
    c.dataBits = 7;
    c.parity = 2;
    c.stopBits = 2;
    c.ctsFlow = true;
    c.dtrMode = 1;
    c.rtsMode = 0;
    TelnetCodec codec;
    codec.sendLine(c);
    const Bytes expected = [] {
        Bytes b{IAC, SB, 44, 1, 0x00, 0x01, IAC, IAC, IAC, IAC, IAC, SE};
        for (Bytes cmd : {Bytes{2, 7}, Bytes{3, 3}, Bytes{4, 2}, Bytes{5, 3}, Bytes{5, 14}, Bytes{5, 8}, Bytes{5, 12}}) {
            b.insert(b.end(), {IAC, SB, 44});
            b.insert(b.end(), cmd.begin(), cmd.end());
            b.insert(b.end(), {IAC, SE});
        }
        return b;
    }();
    EXPECT_EQ(codec.takeOutput(), expected);
    EXPECT_EQ(codec.pendingAnswers(), 6) << "DTR and RTS are not waited for";

    Bytes in = answer(1, {0x00, 0x01, 0xFF, 0xFF});
    for (Bytes a : {answer(2, {7}), answer(3, {3}), answer(4, {2}), answer(5, {3})})
        in.insert(in.end(), a.begin(), a.end());
    EXPECT_TRUE(decodeInSteps(codec, in, 1).empty());
    EXPECT_EQ(codec.pendingAnswers(), 1);
    EXPECT_FALSE(codec.lineRefused());
    const Bytes last = answer(5, {1}); // the inbound flow answered with another value still confirms it
    Bytes data;
    codec.decode(last.data(), last.size(), data);
    EXPECT_EQ(codec.pendingAnswers(), 0);
    EXPECT_FALSE(codec.lineRefused());

    // A rate the server could not set comes back as the one it has.
    c.baudRate = 250000;
    codec.sendLine(c);
    codec.takeOutput();
    const Bytes other = answer(1, {0x00, 0x00, 0x25, 0x80});
    codec.decode(other.data(), other.size(), data);
    EXPECT_TRUE(codec.lineRefused());
    EXPECT_EQ(codec.pendingAnswers(), 5);
}

TEST(TelnetCodec, ModemAndLineStateNotificationsCountChanges) {
    TelnetCodec codec;
    Bytes data;
    const auto feed = [&](const Bytes& b) { decodeInSteps(codec, b, 2); };
    feed(answer(7, {0x30})); // CTS and DSR up
    EXPECT_EQ(codec.modemLines(), unsigned(platform::LineCTS | platform::LineDSR));
    EXPECT_EQ(codec.lineChanges().cts, 1u);
    EXPECT_EQ(codec.lineChanges().dsr, 1u);
    feed(answer(7, {0x30 | 0x01})); // CTS flickered: same level, delta bit set
    EXPECT_EQ(codec.lineChanges().cts, 2u);
    EXPECT_EQ(codec.lineChanges().dsr, 1u);
    feed(answer(7, {0x80})); // CTS and DSR down, carrier up
    EXPECT_EQ(codec.modemLines(), unsigned(platform::LineRLSD));
    EXPECT_EQ(codec.lineChanges().cts, 3u);
    EXPECT_EQ(codec.lineChanges().rlsd, 1u);
    EXPECT_EQ(codec.lineChanges().ring, 0u);
    feed(answer(6, {0x02 | 0x08 | 0x10}));
    EXPECT_EQ(codec.lineErrors().overrun, 1u);
    EXPECT_EQ(codec.lineErrors().frame, 1u);
    EXPECT_EQ(codec.lineErrors().brk, 1u);
    EXPECT_EQ(codec.lineErrors().parity, 0u);
    EXPECT_EQ(codec.modemNotifications(), 3u);
}

TEST(TelnetCodec, AnOverlongOrBrokenSubnegotiationIsBoundedAndDataResumes) {
    TelnetCodec codec;
    Bytes in{IAC, SB, 44, 107};
    in.insert(in.end(), 10000, 0x41); // never ends within the size kept
    in.insert(in.end(), {IAC, SE, 'x'});
    in.insert(in.end(), {IAC, SB, 44, 107, 0x10, IAC, 1, 'y'}); // a command inside: taken as its end
    Bytes data;
    codec.decode(in.data(), in.size(), data);
    EXPECT_EQ(data, (Bytes{'x', 'y'}));
}
