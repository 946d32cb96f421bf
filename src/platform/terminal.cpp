#include "platform/terminal.h"

#include <atomic>
#include <csignal>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

std::atomic<unsigned> resizes{0};
static_assert(std::atomic<unsigned>::is_always_lock_free, "counted from a signal handler");

void countResize(int) {
    resizes.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

bool isTerminal(int fd) {
    return ::isatty(fd) == 1;
}

bool sameTerminal(int fd1, int fd2) {
    if (!isTerminal(fd1) || !isTerminal(fd2)) return false;
    struct stat a {}, b {};
    if (::fstat(fd1, &a) != 0 || ::fstat(fd2, &b) != 0) return false;
    return a.st_rdev == b.st_rdev;
}

int terminalColumns(int fd, int fallback) {
    struct winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return fallback;
    return size.ws_col;
}

int terminalRows(int fd, int fallback) {
    struct winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_row == 0) return fallback;
    return size.ws_row;
}

void watchTerminalResizes() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = countResize;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        return ::sigaction(SIGWINCH, &action, nullptr) == 0;
    }();
    (void)installed;
}

unsigned terminalResizes() {
    return resizes.load(std::memory_order_relaxed);
}

void discardTypedInput(int fd) {
    if (isTerminal(fd)) ::tcflush(fd, TCIFLUSH);
}

} // namespace platform
