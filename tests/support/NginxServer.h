#pragma once
// A real web server for tests that want one: nginx on 127.0.0.1, on a free port, serving a
// folder of static files (with byte ranges, as nginx does for them), optionally over TLS.
// Each instance has its own prefix folder with its own configuration, logs and temp paths,
// so tests running side by side never share anything. nginx is killed when the thread that
// started it ends (so a crashed test leaves no server behind): create it on the thread that
// owns it for its whole life.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace carvo::test {

struct NginxOptions {
    std::filesystem::path root{};  // the folder served at "/"
    bool tls = false;
    std::filesystem::path certFile{}, keyFile{};  // needed when tls is set
};

class NginxServer {
  public:
    // Starts nginx and returns once it accepts connections; throws std::runtime_error with
    // nginx's own error log when it does not come up.
    explicit NginxServer(NginxOptions options);
    // Stops nginx, waits for it and removes the prefix folder.
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:PORT" (or https) followed by path.
    std::string url(std::string_view path) const;
    // nginx's error log so far (for a failing test's message).
    std::string errorLog() const;

    static bool available();
    static const char* binary() { return "/usr/sbin/nginx"; }

  private:
    bool tryStart(std::string& failure);
    void stop();

    NginxOptions options_;
    std::filesystem::path prefix_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

// Running another program from a test: its exit status and what it printed.
struct ProcessResult {
    int exitStatus = -1;  // the program's exit code, or 128 + signal when a signal ended it
    std::string out, err;
};

struct ProcessOptions {
    std::string input{};                             // written to its standard input, then EOF
    std::optional<std::filesystem::path> workDir{};  // current folder of the child
    std::vector<std::string> env{};                  // extra NAME=VALUE entries
    std::chrono::milliseconds timeout{60000};        // killed (and reported as 128+9) after this
    // Called with the child's process id as soon as it runs (to signal it from another thread).
    std::function<void(pid_t)> started{};
};

// Runs argv[0] (a path, not looked up in PATH) with the arguments that follow, and waits.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A fresh, empty folder under the system's temp folder, removed with the object.
class ScratchFolder {
  public:
    explicit ScratchFolder(std::string_view stem = "carvo-test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& p) const { return path_ / p; }

  private:
    std::filesystem::path path_;
};

// Reads a whole file (binary); throws when it cannot be opened.
std::string loadBytes(const std::filesystem::path& path);
// Writes bytes to a file, replacing it.
void storeBytes(const std::filesystem::path& path, std::string_view bytes);

}  // namespace carvo::test
