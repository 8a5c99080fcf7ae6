#pragma once
// Whether the machine is online, and how: the flag word of the platform's connected-state
// query (1 modem, 2 local network, 4 proxy) and its result.

#include <cstdint>
#include <functional>

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

// Learns the state from the machine's network interfaces and the proxy settings of the
// environment.
ConnectedState queryConnectedState();

}  // namespace carvo
