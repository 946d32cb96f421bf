#include "platform/sleep.h"

#include <cerrno>
#include <ctime>

namespace platform {

void sleepMs(int ms) {
    if (ms <= 0) return;
    timespec left{ms / 1000, (ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace platform
