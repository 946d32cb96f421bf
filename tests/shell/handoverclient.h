#pragma once

#include "shell/windowhandover.h"

#include <QTest>

#include <future>

#include <gtest/gtest.h>

// What a second start of the program does, from another thread while this one runs its event loop (where the
// window's listener answers): hands file to the window at socketPath.
inline HandOver handOverWhileServing(const QString& socketPath, const QString& file, QString& error,
                                     int timeoutMs = 10000) {
    auto done = std::async(std::launch::async, [&] { return handOverToWindow(socketPath, file, timeoutMs, error); });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, timeoutMs + 20000));
    return done.get();
}
