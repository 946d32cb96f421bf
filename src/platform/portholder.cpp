#include "platform/portholder.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

std::string processName(long pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

} // namespace

std::string portHolder(const std::string& devicePath, const std::string& locksFile) {
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0) return {};
    // The lock list names a file as "major:minor:inode" of the file system holding it, in hex for the device.
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));

    std::ifstream locks(locksFile);
    std::string line;
    int lines = 0;
    while (lines++ < 100000 && std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:19:5 0 EOF"; a waiting lock's line starts "1: -> ".
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        if (!(fields >> number >> kind)) continue;
        if (kind == "->" || kind != "FLOCK") continue;
        if (!(fields >> mode >> access >> pid >> file)) continue;
        if (file != id) continue;
        char* end = nullptr;
        const long p = std::strtol(pid.c_str(), &end, 10);
        if (!end || *end != '\0' || p <= 0) continue;
        const std::string name = processName(p);
        return name.empty() ? std::to_string(p) : std::to_string(p) + " (" + name + ")";
    }
    return {};
}

} // namespace platform
