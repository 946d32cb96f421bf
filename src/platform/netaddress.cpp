#include "platform/netaddress.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <netdb.h>

namespace platform {

namespace {

bool startsWithNoCase(const std::string& s, const char* prefix) {
    std::size_t i = 0;
    for (; prefix[i] != '\0'; ++i)
        if (i >= s.size() || std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

} // namespace

bool isNetworkPortName(const std::string& name) {
    return startsWithNoCase(name, "rfc2217://") || startsWithNoCase(name, "tcp://");
}

std::optional<NetAddress> parseNetAddress(const std::string& name) {
    NetAddress a;
    std::string rest;
    if (startsWithNoCase(name, "rfc2217://")) {
        a.rfc2217 = true;
        rest = name.substr(10);
    } else if (startsWithNoCase(name, "tcp://")) {
        rest = name.substr(6);
    } else {
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back(); // rfc2217://host:3333/ as some tools write it
    std::size_t colon;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return std::nullopt;
        a.host = rest.substr(1, close - 1);
        colon = close + 1;
        if (a.host.find(':') == std::string::npos) return std::nullopt; // brackets are for IPv6 only
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) return std::nullopt;
        a.host = rest.substr(0, colon);
        if (a.host.empty() || a.host.find(':') != std::string::npos) return std::nullopt; // IPv6 wants brackets
    }
    for (unsigned char c : a.host)
        if (std::isspace(c) || c == '/' || c == '@' || c < 0x20) return std::nullopt;
    a.port = rest.substr(colon + 1);
    if (a.port.empty() || a.port.size() > 5 ||
        !std::all_of(a.port.begin(), a.port.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    const long port = std::stol(a.port);
    if (port < 1 || port > 65535) return std::nullopt;
    a.port = std::to_string(port);
    return a;
}

std::string networkErrorText(int error) {
    if (error == ENXIO) return ::gai_strerror(EAI_NONAME);
    return std::strerror(error);
}

} // namespace platform
