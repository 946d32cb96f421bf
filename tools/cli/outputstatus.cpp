#include "outputstatus.h"

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

std::atomic<int> firstError{0};
std::atomic<bool> firstReported{false};

} // namespace

void noteOutputFailure(std::FILE* stream, int error, bool reported) {
    if (stream != stdout) return;
    int none = 0;
    if (firstError.compare_exchange_strong(none, error ? error : EIO)) firstReported = reported;
}

QString standardOutputFailure() {
    errno = 0;
    if (std::fflush(stdout) != 0) noteOutputFailure(stdout, errno);
    if (std::ferror(stdout)) noteOutputFailure(stdout, EIO);
    const int error = firstError.load();
    if (firstReported) return {};
    return error ? QString::fromLocal8Bit(std::strerror(error)) : QString();
}
