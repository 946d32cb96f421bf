#include "platform/portdetails.h"

#include "platform/portlist.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The USB device the tty hangs below: the nearest folder above it with an idVendor attribute, not above
// the sysfs root.
void readUsbAttributes(const std::string& sysRoot, const std::string& tty, SerialPortDetails& port) {
    const std::string root = realPath(sysRoot);
    std::string dir = realPath(sysRoot + "/class/tty/" + tty + "/device");
    while (!dir.empty() && dir.size() > root.size() && dir.compare(0, root.size(), root) == 0) {
        if (isFile(dir + "/idVendor")) {
            port.vendorId = firstLine(dir + "/idVendor");
            port.productId = firstLine(dir + "/idProduct");
            port.manufacturer = firstLine(dir + "/manufacturer");
            port.product = firstLine(dir + "/product");
            port.serial = firstLine(dir + "/serial");
            return;
        }
        dir.erase(dir.find_last_of('/'));
    }
}

// tty name -> the by-id links that point at it.
std::map<std::string, std::vector<std::string>> byIdLinks(const std::string& devRoot) {
    std::map<std::string, std::vector<std::string>> links;
    const std::string folder = devRoot + "/serial/by-id";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return links;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        char target[PATH_MAX];
        const ssize_t length = ::readlink((folder + "/" + name).c_str(), target, sizeof target - 1);
        if (length <= 0) continue;
        target[length] = '\0';
        links[baseName(target)].push_back(folder + "/" + name);
    }
    ::closedir(dir);
    return links;
}

} // namespace

int listSerialPortDetails(std::vector<SerialPortDetails>& ports, const DeviceTreeRoots& roots) {
    ports.clear();
    std::vector<std::string> ttys;
    if (const int error = listSerialTtys(ttys, roots.sys, roots.dev)) return error;
    auto links = byIdLinks(roots.dev);
    for (const std::string& tty : ttys) {
        SerialPortDetails port;
        port.tty = tty;
        port.name = portNameOfTty(tty);
        readUsbAttributes(roots.sys, tty, port);
        port.byId = std::move(links[tty]);
        ports.push_back(std::move(port));
    }
    return 0;
}

} // namespace platform
