#pragma once

#include "programmer/linkport.h"
#include "programmer/sequencer.h"

#include <QByteArray>

#include <deque>
#include <vector>

// An in-process stand-in for the serial line: records every frame the host writes and delivers scripted
// replies as receive notifications.
class FakeLink : public LinkPort {
public:
    void WriteBytes(std::span<const quint8> bytes) override {
        if (failWrites) throw std::runtime_error("WriteFile function failed");
        sent.emplace_back(bytes.begin(), bytes.end());
    }
    int ReadBytes(std::span<quint8> bytes) override {
        int n = 0;
        for (quint8& b : bytes) {
            if (incoming.empty()) break;
            b = incoming.front();
            incoming.pop_front();
            ++n;
        }
        return n;
    }
    int InputQueueCount() override { return static_cast<int>(incoming.size()); }

    // The programmer sends bytes, which reach the host as one notification.
    void reply(Sequencer& seq, std::vector<quint8> bytes) {
        incoming.insert(incoming.end(), bytes.begin(), bytes.end());
        seq.ComPortRxChar(static_cast<int>(bytes.size()));
    }

    // The programmer's bytes have reached the port, but their notification has not been delivered yet.
    void arrive(std::vector<quint8> bytes) { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); }

    std::vector<std::vector<quint8>> takeSent() { return std::exchange(sent, {}); }

    std::vector<std::vector<quint8>> sent;
    std::deque<quint8> incoming;
    bool failWrites = false;
};

using Frame = std::vector<quint8>;

// An 18-byte block frame: two header bytes, then the 16 bytes.
inline Frame blockFrame(std::span<const quint8> block, quint8 header = 0x00) {
    Frame f{header, header};
    f.insert(f.end(), block.begin(), block.end());
    f.resize(18, 0);
    return f;
}
