#pragma once
// A real HTTP proxy for tests: tinyproxy on 127.0.0.1, on a free port, in the foreground, with a
// configuration and log of its own in a scratch folder, run as whoever runs the test. And the
// proxy variables of the environment, set for the length of a test the way a user sets them.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "NginxServer.h"

namespace carvo::test {

class Tinyproxy {
  public:
    static bool available();
    // credentials "user password" make it ask every client for them (BasicAuth). Returns once
    // it accepts connections; throws std::runtime_error with its log when it does not.
    explicit Tinyproxy(const std::string& credentials = {});
    ~Tinyproxy();  // stops it and waits for it
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

    // The proxy's address as a user writes it, with "user:password@" in front when given.
    std::string address(const std::string& userinfo = {}) const;
    // What it wrote down so far: one CONNECT line for each tunnel, among others.
    std::string log() const;

  private:
    ScratchFolder dir_{"carvo-tinyproxy"};
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

// Sets the given proxy variables and clears the others (http_proxy, https_proxy, all_proxy,
// no_proxy, in both cases) for its lifetime; puts back what was there.
class ProxyEnvironment {
  public:
    explicit ProxyEnvironment(const std::map<std::string, std::string>& values);
    ~ProxyEnvironment();
    ProxyEnvironment(const ProxyEnvironment&) = delete;
    ProxyEnvironment& operator=(const ProxyEnvironment&) = delete;

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace carvo::test
