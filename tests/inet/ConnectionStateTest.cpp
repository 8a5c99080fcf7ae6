// The connected-state query over every combination of interfaces and proxy settings.

#include <net/if.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "inet/ConnectionState.h"

using carvo::ConnectedState;
using carvo::NetworkInterface;
namespace conn = carvo::conn;

namespace {

constexpr unsigned Live = IFF_UP | IFF_RUNNING;

carvo::EnvLookup env(std::map<std::string, std::string> vars) {
    return [vars](std::string_view name) {
        auto it = vars.find(std::string(name));
        return it == vars.end() ? std::string() : it->second;
    };
}

ConnectedState stateOf(std::vector<NetworkInterface> nics, std::map<std::string, std::string> vars = {}) {
    return carvo::connectedStateOf(nics, env(std::move(vars)));
}

TEST(ConnectionState, InterfacesThatCountAndHowTheyCount) {
    const NetworkInterface lo{"lo", Live | IFF_LOOPBACK, true};
    const NetworkInterface eth{"eth0", Live | IFF_BROADCAST, true};
    const NetworkInterface ppp{"ppp0", Live, true};
    const NetworkInterface wwan{"wwan0", Live, true};
    const NetworkInterface tun{"tun0", Live | IFF_POINTOPOINT, true};

    EXPECT_EQ(stateOf({}).flags, 0u);
    EXPECT_FALSE(stateOf({}).connected);
    EXPECT_FALSE(stateOf({lo}).connected);
    EXPECT_EQ(stateOf({lo, eth}).flags, conn::Lan);
    EXPECT_TRUE(stateOf({lo, eth}).connected);
    for (const auto& modem : {ppp, wwan, tun}) {
        SCOPED_TRACE(modem.name);
        EXPECT_EQ(stateOf({modem}).flags, conn::Modem);
        EXPECT_TRUE(stateOf({modem}).connected);
    }
    EXPECT_EQ(stateOf({eth, ppp}).flags, conn::Modem | conn::Lan);

    // Down, not running, or without an address: not a connection.
    EXPECT_FALSE(stateOf({{"eth0", IFF_UP, true}}).connected);
    EXPECT_FALSE(stateOf({{"eth0", IFF_RUNNING, true}}).connected);
    EXPECT_FALSE(stateOf({{"eth0", Live, false}}).connected);
    EXPECT_FALSE(stateOf({{"ppp0", IFF_UP, true}}).connected);
}

TEST(ConnectionState, ProxySettingsAddTheProxyBitOnly) {
    const NetworkInterface eth{"eth0", Live, true};
    for (const char* var : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy"}) {
        SCOPED_TRACE(var);
        EXPECT_EQ(stateOf({eth}, {{var, "http://proxy:3128"}}).flags, conn::Lan | conn::Proxy);
        // A proxy with no interface to reach it is no connection.
        auto alone = stateOf({}, {{var, "http://proxy:3128"}});
        EXPECT_EQ(alone.flags, conn::Proxy);
        EXPECT_FALSE(alone.connected);
    }
    EXPECT_EQ(stateOf({eth}, {{"http_proxy", ""}, {"no_proxy", "*"}}).flags, conn::Lan);
    EXPECT_EQ(carvo::connectedStateOf({eth}, nullptr).flags, conn::Lan);
}

TEST(ConnectionState, MachineListIncludesLoopbackWhichNeverCounts) {
    // Whatever this machine has, its loopback interface is listed and never counts.
    auto nics = carvo::listNetworkInterfaces();
    bool sawLoopback = false;
    for (const auto& n : nics) sawLoopback = sawLoopback || (n.flags & IFF_LOOPBACK);
    EXPECT_TRUE(sawLoopback);
    std::vector<NetworkInterface> loopbackOnly;
    for (const auto& n : nics)
        if (n.flags & IFF_LOOPBACK) loopbackOnly.push_back(n);
    EXPECT_FALSE(carvo::connectedStateOf(loopbackOnly, nullptr).connected);
}

}  // namespace
