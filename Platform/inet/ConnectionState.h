#pragma once
// Whether the machine is online, and how: the flag word of the platform's connected-state
// query (1 modem, 2 local network, 4 proxy) and its result.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace carvo {

namespace conn {
inline constexpr std::uint32_t Modem = 1;
inline constexpr std::uint32_t Lan = 2;
inline constexpr std::uint32_t Proxy = 4;
}  // namespace conn

struct ConnectedState {
    bool connected = false;
    std::uint32_t flags = 0;
};

using ConnectionQuery = std::function<ConnectedState()>;

// One network interface as the machine reports it.
struct NetworkInterface {
    std::string name;
    unsigned flags = 0;         // IFF_* bits
    bool hasAddress = false;    // an IPv4 or IPv6 address that is not link-local
};

// The value of an environment variable, "" when unset.
using EnvLookup = std::function<std::string(std::string_view)>;

// The state that these interfaces and proxy settings give: an interface that is up and
// running, not loopback, with an address, counts as a modem when it is point-to-point or named
// ppp* or wwan*, and as a local network otherwise; a non-empty proxy variable adds the proxy
// bit. Connected when any modem or local-network interface counts.
ConnectedState connectedStateOf(const std::vector<NetworkInterface>& interfaces, const EnvLookup& env);

// The machine's interfaces (one entry per interface, addresses merged).
std::vector<NetworkInterface> listNetworkInterfaces();

// Learns the state from the machine's network interfaces and the proxy settings of the
// environment.
ConnectedState queryConnectedState();

}  // namespace carvo
