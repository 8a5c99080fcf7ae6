#include "Tinyproxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

namespace carvo::test {

namespace {

constexpr const char* kBinary = "/usr/bin/tinyproxy";

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    ::close(fd);
    if (!ok) throw std::runtime_error("no free port for tinyproxy");
    return ntohs(addr.sin_port);
}

bool accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

bool Tinyproxy::available() { return ::access(kBinary, X_OK) == 0; }

Tinyproxy::Tinyproxy(const std::string& credentials) {
    port_ = freePort();
    const std::string conf = (dir_ / "tinyproxy.conf").string();
    // No ConnectPort line: CONNECT may reach any port, the test servers' ephemeral ones too.
    storeBytes(conf, "Listen 127.0.0.1\nPort " + std::to_string(port_) +
                         "\nTimeout 30\nMaxClients 20\nLogLevel Connect\nLogFile \"" +
                         (dir_ / "tinyproxy.log").string() + "\"\nPidFile \"" +
                         (dir_ / "tinyproxy.pid").string() + "\"\n" +
                         (credentials.empty() ? "" : "BasicAuth " + credentials + "\n"));
    std::vector<std::string> args{kBinary, "-d", "-c", conf};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("cannot start tinyproxy");
    if (pid_ == 0) {
        // It goes with the test even when the test crashes, and holds none of its output
        // open (a runner reading that would wait for it).
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execv(kBinary, argv.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!accepts(port_)) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            throw std::runtime_error("tinyproxy did not start:\n" + log());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Tinyproxy::~Tinyproxy() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

std::string Tinyproxy::address(const std::string& userinfo) const {
    return "http://" + (userinfo.empty() ? "" : userinfo + "@") +
           "127.0.0.1:" + std::to_string(port_);
}

std::string Tinyproxy::log() const {
    try {
        return loadBytes(dir_ / "tinyproxy.log");
    } catch (const std::exception&) {
        return {};
    }
}

ProxyEnvironment::ProxyEnvironment(const std::map<std::string, std::string>& values) {
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
        const char* old = std::getenv(name);
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        ::unsetenv(name);
    }
    for (const auto& [name, value] : values) ::setenv(name.c_str(), value.c_str(), 1);
}

ProxyEnvironment::~ProxyEnvironment() {
    for (const auto& [name, value] : saved_) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

}  // namespace carvo::test
