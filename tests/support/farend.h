#pragma once

#include "support/ptypair.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// A programmer played by the test on a pseudo-terminal, in a thread of its own, for answers the simulator
// never gives: replies sent once given numbers of bytes have arrived, and a byte of chatter at a fixed
// interval whatever arrives.
class ScriptedFarEnd {
public:
    struct Reply {
        int afterBytes;   // sent once this many bytes have arrived in all
        QByteArray bytes; // in one write
        int delayMs = 0;  // after the bytes arrived (or after the previous reply)
    };

    explicit ScriptedFarEnd(std::vector<Reply> script, int chatterMs = 0, char chatter = 0);
    ~ScriptedFarEnd();
    ScriptedFarEnd(const ScriptedFarEnd&) = delete;
    ScriptedFarEnd& operator=(const ScriptedFarEnd&) = delete;

    const QString& device() const { return pty_.slavePath(); }
    QByteArray received() const;

private:
    void run();

    PtyPair pty_;
    std::vector<Reply> script_;
    int chatterMs_;
    char chatter_;
    mutable std::mutex mutex_;
    QByteArray received_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
