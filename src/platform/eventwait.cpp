#include "platform/eventwait.h"

#include <cerrno>
#include <cstdint>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

WakeSignal::WakeSignal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeSignal::~WakeSignal() {
    if (fd_ >= 0) ::close(fd_);
}

void WakeSignal::raise() {
    const std::uint64_t one = 1;
    if (fd_ >= 0) [[maybe_unused]]
        auto n = ::write(fd_, &one, sizeof one);
}

void WakeSignal::clear() {
    std::uint64_t value = 0;
    if (fd_ >= 0) [[maybe_unused]]
        auto n = ::read(fd_, &value, sizeof value);
}

DeviceEventWait::DeviceEventWait() : epollFd_(epoll_create1(EPOLL_CLOEXEC)) {}

DeviceEventWait::~DeviceEventWait() {
    if (epollFd_ >= 0) ::close(epollFd_);
}

int DeviceEventWait::watchDevice(int deviceFd, bool output) {
    if (epollFd_ < 0) return EMFILE;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET | (output ? EPOLLOUT : 0u);
    ev.data.fd = deviceFd;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, deviceFd, &ev) != 0) return errno;
    deviceFd_ = deviceFd;
    return 0;
}

void DeviceEventWait::forgetDevice() {
    if (deviceFd_ < 0) return;
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, deviceFd_, nullptr);
    deviceFd_ = -1;
}

int DeviceEventWait::watchSignal(const WakeSignal& signal) {
    if (epollFd_ < 0 || !signal.valid()) return EMFILE;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = signal.fd();
    return epoll_ctl(epollFd_, EPOLL_CTL_ADD, signal.fd(), &ev) == 0 ? 0 : errno;
}

int DeviceEventWait::wait(Result& result) {
    result = {};
    epoll_event events[4];
    for (;;) {
        const int n = epoll_wait(epollFd_, events, 4, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == deviceFd_ && deviceFd_ >= 0) {
                result.device = true;
                if (events[i].events & (EPOLLHUP | EPOLLERR)) result.hangUp = true;
            } else if (result.signalFd < 0) {
                result.signalFd = events[i].data.fd;
            }
        }
        return 0;
    }
}

} // namespace platform
