#include "platform/portlist.h"

#include <cerrno>
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

} // namespace

int listSerialDevices(std::vector<std::string>& names) {
    names.clear();
    const std::string root = "/sys/class/tty";
    DIR* dir = ::opendir(root.c_str());
    if (!dir) return errno;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        const std::string classDir = root + "/" + name;
        if (!exists(classDir + "/device")) continue; // virtual terminals, ptys and the like
        if (name.rfind("ttyS", 0) == 0) {
            if (placeholderUart(classDir)) continue;
            const std::string digits = name.substr(4);
            if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos &&
                digits.size() < 9) {
                names.push_back("COM" + std::to_string(std::stol(digits) + 1));
                continue;
            }
        }
        if (name == "console" || name == "tty") continue;
        if (exists("/dev/" + name)) names.push_back(name);
    }
    ::closedir(dir);
    return 0;
}

} // namespace platform
