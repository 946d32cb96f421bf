// A blocking call another thread ends: here a read from an empty pipe, which, like the modem-status wait,
// watches nothing a stop could be sent through.
#include "platform/interruptiblecall.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    int readOne() const {
        char c = 0;
        return ::read(fds[0], &c, 1) == 1 ? 0 : errno;
    }
};

} // namespace

TEST(InterruptibleCall, InterruptEndsACallBlockedInTheKernel) {
    Pipe pipe;
    platform::InterruptibleCall call;
    std::atomic<int> result{-1};
    std::atomic<bool> entered{false};
    std::thread waiter([&] {
        result = call.run([&] {
            entered = true;
            return pipe.readOne();
        });
    });
    while (!entered)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // well inside read() by now
    const auto start = std::chrono::steady_clock::now();
    call.interrupt();
    const auto took = std::chrono::steady_clock::now() - start;
    waiter.join();
    EXPECT_EQ(result.load(), ECANCELED);
    EXPECT_LT(took, std::chrono::seconds(2)); // no hang
}

TEST(InterruptibleCall, AnInterruptBeforeTheCallHoldsUntilReset) {
    Pipe pipe;
    platform::InterruptibleCall call;
    call.interrupt();
    bool ran = false;
    EXPECT_EQ(call.run([&] {
        ran = true;
        return 0;
    }),
              ECANCELED);
    EXPECT_FALSE(ran);
    call.reset();
    ASSERT_EQ(::write(pipe.fds[1], "x", 1), 1);
    EXPECT_EQ(call.run([&] { return pipe.readOne(); }), 0);
}

TEST(InterruptibleCall, AnInterruptRacingTheStartOfTheCallIsNotLost) {
    for (int i = 0; i < 200; ++i) {
        Pipe pipe;
        platform::InterruptibleCall call;
        std::atomic<int> result{-1};
        std::thread waiter([&] { result = call.run([&] { return pipe.readOne(); }); });
        call.interrupt();
        waiter.join();
        ASSERT_EQ(result.load(), ECANCELED) << "round " << i;
    }
}
