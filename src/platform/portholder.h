#pragma once

#include <string>

namespace platform {

// The process that holds a device's exclusive lock, as the kernel lists it in locksFile (/proc/locks):
// "PID (NAME)", or "" when no process holds it or the list says nothing about it. The lock is a flock on the
// device, so a process that has ended never appears.
std::string portHolder(const std::string& devicePath, const std::string& locksFile = "/proc/locks");

} // namespace platform
