// A blocking call another thread ends: here a read from an empty pipe, which, like the modem-status wait,
// watches nothing a stop could be sent through.
#include "platform/interruptiblecall.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
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

// A thread blocked, through call, in a read from an empty pipe: there once the constructor returns.
struct BlockedReader {
    Pipe pipe;
    platform::InterruptibleCall call;
    std::atomic<int> result{-1};
    std::atomic<bool> entered{false};
    std::thread waiter{[this] {
        result = call.run([this] {
            entered = true;
            return pipe.readOne();
        });
    }};

    BlockedReader() {
        while (!entered)
            std::this_thread::yield();
    }
    // Interrupts the call and waits for the thread: the call's result.
    int interruptAndJoin() {
        call.interrupt();
        waiter.join();
        return result;
    }
    ~BlockedReader() {
        if (waiter.joinable()) interruptAndJoin();
    }
};

std::atomic<int> hostSignals{0};
void hostHandler(int) {
    ++hostSignals;
}

// Gives every real-time signal but `free` (0: none) a handler of the host's own.
void takeRealTimeSignals(int free) {
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        if (sig == free) continue;
        struct sigaction action {};
        action.sa_handler = hostHandler;
        sigemptyset(&action.sa_mask);
        ::sigaction(sig, &action, nullptr);
    }
}

bool hostHandlersKept(int free) {
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        struct sigaction current {};
        ::sigaction(sig, nullptr, &current);
        if (sig != free && current.sa_handler != hostHandler) return false;
    }
    return hostSignals == 0;
}

// In a fresh process (the signal is chosen once per process): exit status 0 when the call still ends on an
// interrupt and the host's handlers stayed in place and were never called.
[[noreturn]] void interruptAmongHostHandlers() {
    const int free = SIGRTMIN + 2;
    takeRealTimeSignals(free);
    BlockedReader reader;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (reader.interruptAndJoin() != ECANCELED) std::_Exit(1);
    std::_Exit(hostHandlersKept(free) ? 0 : 2);
}

// With every real-time signal the host's, the call is refused rather than made impossible to end.
[[noreturn]] void noFreeSignal() {
    takeRealTimeSignals(0);
    platform::InterruptibleCall call;
    bool ran = false;
    const int result = call.run([&] {
        ran = true;
        return 0;
    });
    call.interrupt(); // returns: nobody is inside
    if (result != ENOTSUP || ran) std::_Exit(1);
    std::_Exit(hostHandlersKept(0) ? 0 : 2);
}

} // namespace

TEST(InterruptibleCallDeathTest, TheHostsSignalHandlersAreKept) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(interruptAmongHostHandlers(), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(noFreeSignal(), testing::ExitedWithCode(0), "");
}

// One waiter at a time: the interrupt could reach only one of two.
TEST(InterruptibleCall, ASecondWaiterIsRefused) {
    BlockedReader reader;
    bool ran = false;
    EXPECT_EQ(reader.call.run([&] {
        ran = true;
        return 0;
    }),
              EBUSY);
    EXPECT_FALSE(ran);
    EXPECT_EQ(reader.interruptAndJoin(), ECANCELED);
}

TEST(InterruptibleCall, InterruptEndsACallBlockedInTheKernel) {
    BlockedReader reader;
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // well inside read() by now
    const auto start = std::chrono::steady_clock::now();
    reader.call.interrupt();
    const auto took = std::chrono::steady_clock::now() - start;
    reader.waiter.join();
    EXPECT_EQ(reader.result.load(), ECANCELED);
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
