#include "platform/portlist.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace platform {

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// 8250 ports the kernel reserves without hardware report type 0 (PORT_UNKNOWN).
bool placeholderUart(const std::string& classDir) {
    std::ifstream type(classDir + "/type");
    int value = -1;
    if (!(type >> value)) return false;
    return value == 0;
}

// The n of an 8250-style ttyS<n>, or -1.
long uartNumber(const std::string& tty) {
    if (tty.rfind("ttyS", 0) != 0) return -1;
    const std::string digits = tty.substr(4);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() >= 9)
        return -1;
    return std::stol(digits);
}

} // namespace

int listSerialTtys(std::vector<std::string>& ttys, const std::string& sysRoot, const std::string& devRoot) {
    ttys.clear();
    const std::string root = sysRoot + "/class/tty";
    DIR* dir = ::opendir(root.c_str());
    if (!dir) return errno;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        const std::string classDir = root + "/" + name;
        if (!exists(classDir + "/device")) continue; // virtual terminals, ptys and the like
        if (name.rfind("ttyS", 0) == 0 && placeholderUart(classDir)) continue;
        if (uartNumber(name) >= 0) {
            ttys.push_back(name);
            continue;
        }
        if (name == "console" || name == "tty") continue;
        if (exists(devRoot + "/" + name)) ttys.push_back(name);
    }
    ::closedir(dir);
    return 0;
}

std::string portNameOfTty(const std::string& tty) {
    const long n = uartNumber(tty);
    return n >= 0 ? "COM" + std::to_string(n + 1) : tty;
}

std::string probeRefusal(const std::string& devicePath, const std::string& sysRoot, const std::string& devRoot) {
    std::string path = devicePath;
    if (char* real = ::realpath(devicePath.c_str(), nullptr)) {
        path = real;
        std::free(real);
    }
    std::string root = devRoot;
    if (char* real = ::realpath(devRoot.c_str(), nullptr)) {
        root = real;
        std::free(real);
    }
    if (path.rfind(root + "/", 0) != 0) return {};
    const std::string name = path.substr(root.size() + 1);
    const std::string console = "the kernel's console";
    if (name == "console" || name == "tty") return console;
    if (name.size() > 3 && name.rfind("tty", 0) == 0 &&
        name.find_first_not_of("0123456789", 3) == std::string::npos)
        return console;
    std::ifstream active(sysRoot + "/class/tty/console/active");
    for (std::string word; active >> word;)
        if (word == name) return console;
    if (uartNumber(name) >= 0 && placeholderUart(sysRoot + "/class/tty/" + name))
        return "no hardware behind it";
    return {};
}

int listSerialDevices(std::vector<std::string>& names) {
    std::vector<std::string> ttys;
    names.clear();
    if (const int error = listSerialTtys(ttys, "/sys", "/dev")) return error;
    for (const std::string& tty : ttys)
        names.push_back(portNameOfTty(tty));
    return 0;
}

} // namespace platform
