#pragma once

#include <optional>
#include <string>

namespace platform {

// A port on another machine: rfc2217://HOST:PORT (Telnet with COM port control) or tcp://HOST:PORT (raw
// bytes, the line settings left to the server). HOST is a name, an IPv4 address or an IPv6 address in
// brackets.
struct NetAddress {
    bool rfc2217 = false;
    std::string host; // without the brackets
    std::string port; // digits, 1 to 65535
};

// True for a name that starts with one of the two schemes (any case), well formed or not: such a name is
// never a device below /dev.
bool isNetworkPortName(const std::string& name);
// The parts of a well-formed network name; nothing for anything else.
std::optional<NetAddress> parseNetAddress(const std::string& name);

// The system's words for a failure of a network port: the resolver's for a name that does not resolve
// (ENXIO from the network device), strerror's otherwise.
std::string networkErrorText(int error);

} // namespace platform
