#pragma once

#include "support/ptypair.h"
#include "serial/comport.h"
#include "serial/ecomport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>
#include <string>
#include <vector>
#include <gtest/gtest.h>

// Serves the main thread's event loop until pred holds or a generous deadline passes.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Runs f and returns the EComPort it raised (code 0 when it raised nothing).
template <typename F> EComPort raisedBy(F&& f) {
    try {
        f();
    } catch (const EComPort& e) {
        return e;
    }
    return EComPort(0);
}

// Records which push groups actually reached the device.
class RecordingPort : public TComPort {
public:
    std::vector<std::string> pushes;
    void PushBufferSizes() override {
        if (CanPush()) pushes.push_back("buffer");
        TComPort::PushBufferSizes();
    }
    void PushLineSettings() override {
        if (CanPush()) pushes.push_back("line");
        TComPort::PushLineSettings();
    }
    void PushTimeouts() override {
        if (CanPush()) pushes.push_back("timeouts");
        TComPort::PushTimeouts();
    }
};
