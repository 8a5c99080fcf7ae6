#include "NginxServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace carvo::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A file descriptor that closes itself.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = o.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

struct Pipe {
    Fd read, write;
};

Pipe makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throwErrno("pipe2");
    return {Fd(fds[0]), Fd(fds[1])};
}

// The argument vector execve wants, pointing into strings that outlive it.
std::vector<char*> cArgs(const std::vector<std::string>& args) {
    std::vector<char*> out;
    out.reserve(args.size() + 1);
    for (const auto& a : args) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

// Everything the child does between fork and exec is async-signal-safe: the parent prepared
// every string beforehand. The child dies with the thread that started it, so a test that
// crashes leaves no server behind.
pid_t forkExec(const std::vector<std::string>& argv, const std::vector<std::string>& envStrings,
               int in, int out, int err, const char* workDir) {
    std::vector<char*> args = cArgs(argv);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    for (const auto& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t parent = ::getpid();

    pid_t pid = ::fork();
    if (pid < 0) throwErrno("fork");
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
        if (workDir && ::chdir(workDir) != 0) ::_exit(127);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

int statusOf(int wstatus) {
    if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
    return -1;
}

std::uint16_t pickFreePort() {
    Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s) throwErrno("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throwErrno("bind");
    socklen_t len = sizeof a;
    if (::getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throwErrno("getsockname");
    return ntohs(a.sin_port);
}

bool accepts(std::uint16_t port) {
    Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return ::connect(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

std::string readOr(const fs::path& p, std::string fallback) {
    std::ifstream f(p, std::ios::binary);
    if (!f) return fallback;
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

fs::path makeScratch(std::string_view stem) {
    std::string pattern = (fs::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throwErrno("mkdtemp " + pattern);
    return pattern;
}

}  // namespace

// ---- processes ----------------------------------------------------------------------------

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    if (argv.empty()) throw std::invalid_argument("runProcess: empty argv");
    Pipe in = makePipe(), out = makePipe(), err = makePipe();
    std::string workDir = options.workDir ? options.workDir->string() : std::string();

    // A child that exits before reading its input must not kill us with SIGPIPE: block it in
    // this thread for the call and swallow the one it may leave pending.
    sigset_t pipeSet, oldMask;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSet, &oldMask);

    pid_t pid = forkExec(argv, options.env, in.read.get(), out.write.get(), err.write.get(),
                         workDir.empty() ? nullptr : workDir.c_str());
    in.read.reset();
    out.write.reset();
    err.write.reset();
    if (options.started) options.started(pid);

    ProcessResult result;
    std::size_t written = 0;
    if (options.input.empty()) in.write.reset();
    const auto deadline = Clock::now() + options.timeout;
    bool timedOut = false;
    char buf[65536];
    while (out.read || err.read) {
        pollfd fds[3];
        nfds_t n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (out.read) {
            fds[n] = {out.read.get(), POLLIN, 0};
            outIdx = static_cast<int>(n++);
        }
        if (err.read) {
            fds[n] = {err.read.get(), POLLIN, 0};
            errIdx = static_cast<int>(n++);
        }
        if (in.write) {
            fds[n] = {in.write.get(), POLLOUT, 0};
            inIdx = static_cast<int>(n++);
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        int r = ::poll(fds, n, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        auto drain = [&](int idx, Fd& fd, std::string& into) {
            if (idx < 0 || fds[idx].revents == 0) return;
            ssize_t got = ::read(fd.get(), buf, sizeof buf);
            if (got > 0)
                into.append(buf, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR)
                fd.reset();
        };
        drain(outIdx, out.read, result.out);
        drain(errIdx, err.read, result.err);
        if (inIdx >= 0 && fds[inIdx].revents != 0) {
            ssize_t w = ::write(in.write.get(), options.input.data() + written,
                                options.input.size() - written);
            if (w > 0) written += static_cast<std::size_t>(w);
            if (w < 0 && errno != EINTR && errno != EAGAIN) in.write.reset();
            if (written == options.input.size()) in.write.reset();
        }
    }
    in.write.reset();
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    result.exitStatus = timedOut ? 128 + SIGKILL : statusOf(wstatus);

    timespec zero{};
    ::sigtimedwait(&pipeSet, nullptr, &zero);
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    return result;
}

ScratchFolder::ScratchFolder(std::string_view stem) : path_(makeScratch(stem)) {}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string loadBytes(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot open " + path.string());
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void storeBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path.string());
}

// ---- nginx --------------------------------------------------------------------------------

namespace {

// A file changed within the second nginx answers for it has no strong validator (its ETag and
// Last-Modified name only that second), so a client will not resume it. Files a test lays out
// just before the server starts are dated a minute back, as files published on a real server
// are, so that a resume does not depend on the clock. A test that wants a fresh file changes
// it after the start.
void ageFreshFiles(const fs::path& root) {
    const auto now = fs::file_time_type::clock::now();
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
        const auto written = it->last_write_time(ec);
        if (!ec && written > now - std::chrono::minutes(1) && written <= now)
            fs::last_write_time(it->path(), now - std::chrono::minutes(1), ec);
    }
}

}  // namespace

bool NginxServer::available() { return ::access(binary(), X_OK) == 0; }

NginxServer::NginxServer(NginxOptions options) : options_(std::move(options)) {
    if (options_.root.empty()) throw std::invalid_argument("NginxServer: no root folder");
    if (options_.tls && (options_.certFile.empty() || options_.keyFile.empty()))
        throw std::invalid_argument("NginxServer: TLS needs a certificate and a key");
    options_.root = fs::absolute(options_.root);
    prefix_ = makeScratch("carvo-nginx");
    ageFreshFiles(options_.root);
    fs::create_directories(prefix_ / "logs");
    fs::create_directories(prefix_ / "tmp");

    // The port is picked before nginx binds it, so another program may take it in between;
    // a few attempts make that harmless.
    std::string failure;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (tryStart(failure)) return;
        if (failure.find("Address already in use") == std::string::npos) break;
    }
    std::error_code ec;
    fs::remove_all(prefix_, ec);
    throw std::runtime_error("nginx did not start:\n" + failure);
}

NginxServer::~NginxServer() {
    stop();
    std::error_code ec;
    fs::remove_all(prefix_, ec);
}

std::string NginxServer::url(std::string_view path) const {
    return std::string(options_.tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) +
           std::string(path);
}

std::string NginxServer::errorLog() const {
    return readOr(prefix_ / "logs" / "error.log", "") + readOr(prefix_ / "logs" / "stderr.log", "");
}

bool NginxServer::tryStart(std::string& failure) {
    port_ = pickFreePort();
    const fs::path conf = prefix_ / "nginx.conf";
    const std::string p = prefix_.string();
    {
        std::ofstream c(conf, std::ios::trunc);
        // One process, in the foreground, so the fixture owns it; as root nginx would switch
        // to "nobody" for its workers, which cannot read a test's files, hence user root.
        c << "daemon off;\nmaster_process off;\nworker_processes 1;\n";
        if (::geteuid() == 0) c << "user root root;\n";
        c << "pid " << p << "/nginx.pid;\n"
          << "error_log " << p << "/logs/error.log warn;\n"
          << "events { worker_connections 256; }\n"
          << "http {\n"
          << "    access_log off;\n"
          << "    sendfile on;\n"
          << "    tcp_nopush on;\n"
          << "    types { }\n"
          << "    default_type application/octet-stream;\n"
          << "    client_body_temp_path " << p << "/tmp/body;\n"
          << "    proxy_temp_path " << p << "/tmp/proxy;\n"
          << "    fastcgi_temp_path " << p << "/tmp/fastcgi;\n"
          << "    uwsgi_temp_path " << p << "/tmp/uwsgi;\n"
          << "    scgi_temp_path " << p << "/tmp/scgi;\n"
          << "    server {\n"
          << "        listen 127.0.0.1:" << port_ << (options_.tls ? " ssl" : "") << ";\n"
          << "        server_name localhost 127.0.0.1;\n"
          << "        root " << options_.root.string() << ";\n";
        if (options_.tls)
            c << "        ssl_certificate " << fs::absolute(options_.certFile).string() << ";\n"
              << "        ssl_certificate_key " << fs::absolute(options_.keyFile).string() << ";\n";
        c << "        location / { }\n"
          << "    }\n"
          << "}\n";
        if (!c) throw std::runtime_error("cannot write " + conf.string());
    }

    const fs::path stderrLog = prefix_ / "logs" / "stderr.log";
    Fd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    Fd log(::open(stderrLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!devNull || !log) throwErrno("open");
    pid_ = forkExec({binary(), "-p", p + "/", "-c", conf.string(), "-e", p + "/logs/error.log"}, {},
                    devNull.get(), log.get(), log.get(), nullptr);

    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        int wstatus = 0;
        pid_t r = ::waitpid(pid_, &wstatus, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            failure =
                "nginx exited with status " + std::to_string(statusOf(wstatus)) + "\n" + errorLog();
            return false;
        }
        if (accepts(port_)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    failure =
        "nginx did not accept connections on port " + std::to_string(port_) + "\n" + errorLog();
    stop();
    return false;
}

void NginxServer::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    int wstatus = 0;
    while (::waitpid(pid_, &wstatus, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &wstatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pid_ = -1;
}

}  // namespace carvo::test
