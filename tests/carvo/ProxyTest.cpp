// The control through a real HTTP proxy (tinyproxy on loopback), set the way a user sets one:
// http_proxy, https_proxy and no_proxy in the environment, credentials in the proxy's address.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

#include "Bytes.h"
#include "Harness.h"
#include "HttpTestServer.h"
#include "NginxServer.h"
#include "TestCertificates.h"

using namespace carvo;
using namespace carvo::test;
namespace fs = std::filesystem;
using Events = std::vector<std::string>;

namespace {

constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// tinyproxy in the foreground with a configuration of its own in a scratch folder; it runs as
// whoever runs the test. With credentials it asks every client for them (BasicAuth).
class Tinyproxy {
public:
    explicit Tinyproxy(std::string credentials = {}) {
        port_ = freePort();
        std::string conf = "Listen 127.0.0.1\nPort " + std::to_string(port_) +
                           "\nTimeout 30\nMaxClients 20\nLogLevel Connect\nLogFile \"" +
                           log().string() + "\"\nPidFile \"" + (dir_ / "tinyproxy.pid").string() +
                           "\"\n";
        if (!credentials.empty()) conf += "BasicAuth " + credentials + "\n";
        storeBytes(dir_ / "tinyproxy.conf", conf);
        const std::string confPath = (dir_ / "tinyproxy.conf").string();
        std::vector<char*> argv{const_cast<char*>(kTinyproxy), const_cast<char*>("-d"),
                                const_cast<char*>("-c"), const_cast<char*>(confPath.c_str()),
                                nullptr};
        if (::posix_spawn(&pid_, kTinyproxy, nullptr, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start tinyproxy");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!accepts(port_)) {
            if (std::chrono::steady_clock::now() > deadline)
                throw std::runtime_error("tinyproxy did not start: " + loadBytes(log()));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Tinyproxy() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

    // The proxy's address as a user writes it, with "user:password@" when given.
    std::string address(const std::string& userinfo) const {
        return "http://" + (userinfo.empty() ? "" : userinfo + "@") + "127.0.0.1:" +
               std::to_string(port_);
    }
    fs::path log() const { return dir_ / "tinyproxy.log"; }

private:
    ScratchFolder dir_{"carvo-tinyproxy"};
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

// Sets the proxy variables for the length of a test, and puts back what was there.
class ProxyEnvironment {
public:
    explicit ProxyEnvironment(const std::map<std::string, std::string>& values) {
        for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
            ::unsetenv(name);
        }
        for (const auto& [name, value] : values) ::setenv(name.c_str(), value.c_str(), 1);
    }
    ~ProxyEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }
    ProxyEnvironment(const ProxyEnvironment&) = delete;
    ProxyEnvironment& operator=(const ProxyEnvironment&) = delete;

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// A control with the libcurl component, trusting the test's own certificate authority.
struct Live {
    ScriptedHost host;
    RecordingSite site;
    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    std::unique_ptr<DownLoad> dl;

    Live(const fs::path& caFile, const fs::path& target) {
        DownLoadEnvironment env;
        env.makeTransfer = [ca = caFile.string()](YieldFn y) {
            TransferOptions options;
            options.connectTimeoutMs = 5000;
            options.stallTimeoutMs = 5000;
            options.caFile = ca;
            return makeCurlTransfer(std::move(y), options);
        };
        env.decimalPoint = '.';
        dl = std::make_unique<DownLoad>(std::move(env));
        host.useRealClock(true);
        site.host = &host;
        dl->setClientSite(&site);
        dl->initNew();
        dl->connectionPoint().advise(log);
        dl->setCHUNK(65536);
        dl->setSaveLocation(target.string());
    }
};

}  // namespace

TEST(Proxy, DownloadsThroughAProxyAndNamesTheProxyWhenItRefuses) {
    if (::access(kTinyproxy, X_OK) != 0) GTEST_SKIP() << "tinyproxy is not installed";
    if (!NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    ScratchFolder dir;
    const std::string body = pattern(3 * 1024 * 1024 + 1);
    const TestCertificates certs = makeTestCertificates(dir / "certs");
    fs::create_directories(dir / "www");
    storeBytes(dir / "www" / "setup.exe", body);
    NginxServer https(NginxOptions{dir / "www", true, certs.certFile, certs.keyFile});
    HttpTestServer http;
    Response file;
    file.body = body;
    http.route("/setup.exe", file);
    Response locked;
    locked.statusLine = "HTTP/1.1 401 Unauthorized";
    locked.headers = {{"WWW-Authenticate", "Basic realm=\"downloads\""}};
    http.route("/locked.exe", locked);
    Tinyproxy open;
    Tinyproxy guarded("user pass");

    const std::string proxyRefused = "Acesso Não Autorizado Pelo Proxy";
    struct Row {
        const char* name;
        bool tls;
        const Tinyproxy& proxy;
        std::string userinfo;
        std::string code;  // the code the probe raises, "" for a whole download
        const char* path = "/setup.exe";
        const char* noProxy = "";
    };
    const Row rows[] = {
        {"plain http", false, open, "", ""},
        {"https through CONNECT", true, open, "", ""},
        {"http with a user and password", false, guarded, "user:pass", ""},
        {"https with a user and password", true, guarded, "user:pass", ""},
        {"http without a user", false, guarded, "", "407"},
        {"http with a wrong password", false, guarded, "user:wrong", "407"},
        {"https with a wrong password", true, guarded, "user:wrong", "407"},
        {"the server's own refusal through the proxy", false, guarded, "user:pass", "401",
         "/locked.exe"},
        {"no_proxy names the server", false, guarded, "user:wrong", "", "/setup.exe",
         "127.0.0.1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ProxyEnvironment environment({{"http_proxy", row.proxy.address(row.userinfo)},
                                            {"https_proxy", row.proxy.address(row.userinfo)},
                                            {"no_proxy", row.noProxy}});
        const fs::path target = dir / "download.exe";
        fs::remove(target);
        const std::size_t seenBefore = http.requestCount();
        const std::string logBefore = loadBytes(row.proxy.log());
        Live live(certs.caFile, target);
        live.dl->setUrl(row.tls ? https.url(row.path) : http.url(row.path));
        live.dl->GetFileInformation();
        if (row.code.empty()) {
            live.dl->DownLoadFile();
            EXPECT_EQ(live.log->named("DLComplete").size(), 1u) << testing::PrintToString(live.log->events);
            EXPECT_TRUE(fs::exists(target) && loadBytes(target) == body);
        } else if (row.code == "407") {
            ASSERT_GE(live.log->events.size(), 3u);
            EXPECT_EQ(Events(live.log->events.end() - 3, live.log->events.end()),
                      (Events{"StatusChange\t" + proxyRefused + ", Download Interrompido!",
                              "DLECode\t407", "DLError\t" + proxyRefused + "!"}));
            EXPECT_EQ(live.dl->FileExists(), VFalse);
        } else {
            EXPECT_EQ(live.log->named("DLECode"), Events{"DLECode\t" + row.code});
            EXPECT_EQ(live.log->last("DLError"), "DLError\tAcesso Não Autorizado!");
        }
        // The way it went: through the proxy (which names itself to the server, and writes
        // down each tunnel), or straight to the server when no_proxy says so.
        const std::string proxyLog = loadBytes(row.proxy.log()).substr(logBefore.size());
        if (*row.noProxy) {
            EXPECT_EQ(http.requests().back().header("Via"), "");
        } else if (row.tls) {
            EXPECT_NE(proxyLog.find("CONNECT 127.0.0.1:" + std::to_string(https.port())),
                      std::string::npos)
                << proxyLog;
        } else if (http.requestCount() > seenBefore) {
            EXPECT_NE(http.requests().back().header("Via").find("tinyproxy"), std::string::npos);
        }
    }
}
