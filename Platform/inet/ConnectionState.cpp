#include "inet/ConnectionState.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace carvo {

namespace {

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// Link-local addresses exist on any cabled interface, with or without a network behind it,
// so they say nothing about being online.
bool usableAddress(const sockaddr* addr) {
    if (!addr) return false;
    if (addr->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(addr);
        const auto* b = reinterpret_cast<const unsigned char*>(&in->sin_addr);
        return !(b[0] == 169 && b[1] == 254);
    }
    if (addr->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(addr);
        const unsigned char* b = in6->sin6_addr.s6_addr;
        return !(b[0] == 0xfe && (b[1] & 0xc0) == 0x80);
    }
    return false;
}

struct IfaddrsDeleter {
    void operator()(ifaddrs* p) const { freeifaddrs(p); }
};

}  // namespace

ConnectedState connectedStateOf(const std::vector<NetworkInterface>& interfaces,
                                const EnvLookup& env) {
    ConnectedState state;
    for (const auto& nic : interfaces) {
        const bool counts = (nic.flags & IFF_UP) && (nic.flags & IFF_RUNNING) &&
                            !(nic.flags & IFF_LOOPBACK) && nic.hasAddress;
        if (!counts) continue;
        const bool modem = (nic.flags & IFF_POINTOPOINT) || startsWith(nic.name, "ppp") ||
                           startsWith(nic.name, "wwan");
        state.flags |= modem ? conn::Modem : conn::Lan;
    }
    if (env) {
        for (std::string_view name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                      "all_proxy", "ALL_PROXY"}) {
            if (!env(name).empty()) {
                state.flags |= conn::Proxy;
                break;
            }
        }
    }
    state.connected = (state.flags & (conn::Modem | conn::Lan)) != 0;
    return state;
}

std::vector<NetworkInterface> listNetworkInterfaces() {
    std::vector<NetworkInterface> out;
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) return out;  // no answer: nothing counts as connected
    std::unique_ptr<ifaddrs, IfaddrsDeleter> list(raw);
    for (const ifaddrs* p = raw; p; p = p->ifa_next) {
        if (!p->ifa_name) continue;
        auto it = std::find_if(out.begin(), out.end(),
                               [&](const NetworkInterface& n) { return n.name == p->ifa_name; });
        if (it == out.end()) {
            out.push_back({p->ifa_name, p->ifa_flags, false});
            it = out.end() - 1;
        }
        it->flags |= p->ifa_flags;
        it->hasAddress = it->hasAddress || usableAddress(p->ifa_addr);
    }
    return out;
}

ConnectedState queryConnectedState() {
    return connectedStateOf(listNetworkInterfaces(), [](std::string_view name) {
        const char* v = std::getenv(std::string(name).c_str());
        return std::string(v ? v : "");
    });
}

}  // namespace carvo
