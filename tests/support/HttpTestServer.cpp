#include "HttpTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <list>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <variant>

namespace carvo::test {

namespace {

using Clock = std::chrono::steady_clock;
using Handler = std::function<Response(const Request&)>;

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Owns one file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = std::exchange(o.fd_, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// What a connection thread sends after it has parsed the request.
struct Plan {
    std::string head;       // status line and header block, blank line included
    std::string_view body;  // points into the shared Response
    bool chunked = false;
    std::size_t dropAfter = std::string::npos;
    std::size_t stallAfter = std::string::npos;
    std::size_t bytesPerSecond = 0;
    std::chrono::milliseconds trickle{0};
    std::chrono::milliseconds headerDelay{0}, bodyDelay{0};
    bool neverRespond = false;
    bool headOnly = false;  // a HEAD request: the header block alone
};

bool hasHeader(const Response& r, std::string_view name) {
    return std::any_of(r.headers.begin(), r.headers.end(),
                       [&](const auto& h) { return iequals(h.first, name); });
}

// Parses "bytes=N-" or "bytes=N-M" into [first, last]; false when malformed.
bool parseRange(std::string_view v, std::size_t& first, std::size_t& last, bool& open) {
    v = trim(v);
    constexpr std::string_view unit = "bytes=";
    if (v.size() <= unit.size() || !iequals(v.substr(0, unit.size()), unit)) return false;
    v.remove_prefix(unit.size());
    auto dash = v.find('-');
    if (dash == std::string_view::npos || dash == 0) return false;
    auto a = v.substr(0, dash), b = v.substr(dash + 1);
    auto [pa, ea] = std::from_chars(a.data(), a.data() + a.size(), first);
    if (ea != std::errc{} || pa != a.data() + a.size()) return false;
    open = b.empty();
    if (open) return true;
    auto [pb, eb] = std::from_chars(b.data(), b.data() + b.size(), last);
    return eb == std::errc{} && pb == b.data() + b.size() && last >= first;
}

std::string versionOf(std::string_view statusLine) {
    auto sp = statusLine.find(' ');
    return std::string(sp == std::string_view::npos ? std::string_view("HTTP/1.1")
                                                    : statusLine.substr(0, sp));
}

Plan planFor(const Response& r, const Request& req) {
    Plan p;
    p.chunked = r.chunked;
    p.dropAfter = r.dropAfter;
    p.stallAfter = r.stallAfter;
    p.bytesPerSecond = r.bytesPerSecond;
    p.trickle = r.trickle;
    p.headerDelay = r.headerDelay;
    p.bodyDelay = r.bodyDelay;
    p.neverRespond = r.neverRespond;

    std::string status = r.statusLine;
    std::string_view body = r.body;
    std::vector<std::pair<std::string, std::string>> extra;
    std::string range = req.header("Range");
    std::size_t first = 0, last = 0;
    bool open = true;
    if (r.honourRange && !range.empty() && parseRange(range, first, last, open)) {
        const std::size_t size = r.body.size();
        if (first >= size) {
            status = versionOf(r.statusLine) + " 416 Range Not Satisfiable";
            extra.emplace_back("Content-Range", "bytes */" + std::to_string(size));
            body = {};
        } else {
            if (open || last >= size) last = size - 1;
            status = versionOf(r.statusLine) + " 206 Partial Content";
            extra.emplace_back("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                    std::to_string(last) + "/" +
                                                    std::to_string(size));
            body = body.substr(first, last - first + 1);
        }
    }
    if (r.honourRange && r.bodyETag) {
        char tag[24];
        auto [end, ec] = std::to_chars(tag, tag + sizeof tag, std::hash<std::string>{}(r.body), 16);
        (void)ec;
        extra.emplace_back("ETag", "\"" + std::string(tag, end) + "\"");
    }
    p.headOnly = req.method == "HEAD";
    p.body = p.headOnly ? std::string_view{} : body;

    std::string& h = p.head;
    h = status + "\r\n";
    for (const auto& [name, value] : r.headers) h += name + ": " + value + "\r\n";
    for (const auto& [name, value] : extra)
        if (!hasHeader(r, name)) h += name + ": " + value + "\r\n";
    if (r.chunked) {
        if (!hasHeader(r, "Transfer-Encoding")) h += "Transfer-Encoding: chunked\r\n";
    } else if (r.contentLength && !hasHeader(r, "Content-Length")) {
        h += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    if (r.connectionClose && !hasHeader(r, "Connection")) h += "Connection: close\r\n";
    h += "\r\n";
    return p;
}

Response notFound() {
    Response r;
    r.statusLine = "HTTP/1.1 404 Not Found";
    r.headers = {{"Content-Type", "text/plain"}};
    r.body = "Not Found\n";
    return r;
}

}  // namespace

std::string Request::header(std::string_view name) const {
    for (const auto& line : headerLines) {
        auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (iequals(trim(std::string_view(line).substr(0, colon)), name))
            return std::string(trim(std::string_view(line).substr(colon + 1)));
    }
    return {};
}

struct HttpTestServer::Impl {
    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    using Route = std::variant<std::shared_ptr<const Response>, std::shared_ptr<const Handler>>;

    Fd listener;
    Fd wakeRead, wakeWrite;  // a byte written here wakes every poll: the server is stopping
    std::uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<std::size_t> connections{0};
    std::atomic<std::size_t> bodySent{0};

    mutable std::mutex mutex;  // guards routes and log
    std::map<std::string, Route, std::less<>> routes;
    std::vector<Request> log;

    std::mutex connMutex;  // guards conns
    std::list<Connection> conns;
    std::thread acceptor;

    Impl() {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::system_error(errno, std::generic_category(), "pipe2");
        wakeRead = Fd(pipeFds[0]);
        wakeWrite = Fd(pipeFds[1]);

        listener = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (listener.get() < 0) throw std::system_error(errno, std::generic_category(), "socket");
        int one = 1;
        ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener.get(), 64) != 0)
            throw std::system_error(errno, std::generic_category(), "bind/listen");
        socklen_t len = sizeof addr;
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        acceptor = std::thread([this] { acceptLoop(); });
    }

    ~Impl() {
        stopping = true;
        char b = 1;
        [[maybe_unused]] auto n = ::write(wakeWrite.get(), &b, 1);
        if (acceptor.joinable()) acceptor.join();
        std::lock_guard lock(connMutex);
        for (auto& c : conns)
            if (c.thread.joinable()) c.thread.join();
    }

    // Waits until fd is ready for events; false when the server stops first.
    bool waitFor(int fd, short events) {
        for (;;) {
            if (stopping) return false;
            pollfd fds[2] = {{fd, events, 0}, {wakeRead.get(), POLLIN, 0}};
            int n = ::poll(fds, 2, -1);
            if (n < 0 && errno != EINTR) return false;
            if (stopping) return false;
            if (n > 0 && fds[0].revents != 0) return true;
        }
    }

    // Sleeps for d unless the server stops first; false when it stopped.
    bool pause(std::chrono::milliseconds d) {
        if (d.count() <= 0) return !stopping;
        auto deadline = Clock::now() + d;
        pollfd fd{wakeRead.get(), POLLIN, 0};
        while (!stopping) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return true;
            ::poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        }
        return false;
    }

    bool sendAll(int fd, std::string_view data) {
        while (!data.empty()) {
            ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n > 0) {
                data.remove_prefix(static_cast<std::size_t>(n));
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!waitFor(fd, POLLOUT)) return false;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return false;  // the client went away
            }
        }
        return true;
    }

    void acceptLoop() {
        while (waitFor(listener.get(), POLLIN)) {
            Fd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (client.get() < 0) continue;
            ++connections;
            std::lock_guard lock(connMutex);
            // Join connections that have finished so a long test does not pile up threads.
            for (auto it = conns.begin(); it != conns.end();) {
                if (it->done) {
                    it->thread.join();
                    it = conns.erase(it);
                } else {
                    ++it;
                }
            }
            auto& c = conns.emplace_back();
            c.thread = std::thread([this, &c, fd = std::move(client)]() mutable {
                serve(fd.get());
                fd.reset();
                c.done = true;
            });
        }
    }

    // Reads up to the blank line ending the request head; false if the client or server quits.
    bool readHead(int fd, std::string& head) {
        char buf[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.find("\n\n") == std::string::npos) {
            if (head.size() > 256 * 1024) return false;
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n > 0) {
                head.append(buf, static_cast<std::size_t>(n));
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                if (!waitFor(fd, POLLIN)) return false;
            } else {
                return false;
            }
        }
        return true;
    }

    static Request parse(std::string_view head) {
        Request req;
        bool first = true;
        while (!head.empty()) {
            auto nl = head.find('\n');
            auto line = head.substr(0, nl);
            head.remove_prefix(nl == std::string_view::npos ? head.size() : nl + 1);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (first) {
                first = false;
                auto a = line.find(' ');
                auto b = a == std::string_view::npos ? a : line.find(' ', a + 1);
                req.method = std::string(line.substr(0, a));
                if (a != std::string_view::npos)
                    req.target = std::string(line.substr(a + 1, b == line.npos ? b : b - a - 1));
                if (b != std::string_view::npos) req.version = std::string(line.substr(b + 1));
                continue;
            }
            if (line.empty()) break;
            req.headerLines.emplace_back(line);
        }
        return req;
    }

    void serve(int fd) {
        std::string head;
        if (!readHead(fd, head)) return;
        Request req = parse(head);
        Route route;
        {
            std::lock_guard lock(mutex);
            log.push_back(req);
            auto it = routes.find(req.target);
            if (it != routes.end()) route = it->second;
        }
        std::shared_ptr<const Response> response;
        if (auto* handler = std::get_if<std::shared_ptr<const Handler>>(&route); handler && *handler) {
            try {
                response = std::make_shared<const Response>((**handler)(req));
            } catch (const std::exception& e) {
                // A throwing handler must not take the test program down with it.
                Response failed;
                failed.statusLine = "HTTP/1.1 500 Internal Server Error";
                failed.body = std::string("handler threw: ") + e.what() + "\n";
                response = std::make_shared<const Response>(std::move(failed));
            }
        } else if (auto* fixed = std::get_if<std::shared_ptr<const Response>>(&route); fixed && *fixed) {
            response = *fixed;
        } else {
            response = std::make_shared<const Response>(notFound());
        }
        Plan plan = planFor(*response, req);
        if (plan.neverRespond) {
            // Silent until the server stops or the client hangs up.
            char buf[4096];
            while (waitFor(fd, POLLIN)) {
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
            }
            return;
        }
        if (!pause(plan.headerDelay) || !sendAll(fd, plan.head) || !pause(plan.bodyDelay))
            return;
        if (!plan.headOnly && !sendBody(fd, plan)) return;
        ::shutdown(fd, SHUT_WR);
    }

    // Sends the body (or its first dropAfter bytes), chunked or not, throttled if asked.
    // False when the connection was cut on purpose or lost.
    bool sendBody(int fd, const Plan& plan) {
        std::string_view body = plan.body;
        const bool cut = plan.dropAfter < body.size();
        if (cut) body = body.substr(0, plan.dropAfter);
        const bool stalls = !cut && plan.stallAfter < body.size();
        if (stalls) body = body.substr(0, plan.stallAfter);
        const std::size_t piece =
            plan.trickle.count() > 0 ? 1
            : plan.bytesPerSecond == 0 ? 64 * 1024
                                       : std::clamp<std::size_t>(plan.bytesPerSecond / 20, 1, 16 * 1024);
        const auto start = Clock::now();
        std::size_t sent = 0;
        while (sent < body.size()) {
            if (plan.bytesPerSecond != 0) {
                // Wait until the elapsed time allows the bytes sent so far.
                auto due = start + std::chrono::microseconds(
                                       static_cast<long long>(sent * 1'000'000 / plan.bytesPerSecond));
                if (due > Clock::now() &&
                    !pause(std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now())))
                    return false;
            }
            auto slice = body.substr(sent, piece);
            if (plan.chunked) {
                // A cut chunked body stops inside its chunk, as a dropped connection would.
                std::size_t declared = std::min(piece, plan.body.size() - sent);
                char size[32];
                auto [end, ec] = std::to_chars(size, size + sizeof size, declared, 16);
                (void)ec;
                if (!sendAll(fd, std::string(size, end) + "\r\n")) return false;
                if (!sendAll(fd, slice)) return false;
                if (slice.size() == declared && !sendAll(fd, "\r\n")) return false;
            } else if (!sendAll(fd, slice)) {
                return false;
            }
            sent += slice.size();
            bodySent += slice.size();
            if (plan.trickle.count() > 0 && sent < body.size() && !pause(plan.trickle)) return false;
        }
        if (cut) return false;
        if (stalls) {
            pause(std::chrono::hours(1));  // ends early when the server stops
            return false;
        }
        if (plan.chunked && !sendAll(fd, "0\r\n\r\n")) return false;
        return true;
    }
};

HttpTestServer::HttpTestServer() : impl_(std::make_unique<Impl>()) {}
HttpTestServer::~HttpTestServer() = default;

std::uint16_t HttpTestServer::port() const { return impl_->port; }

std::string HttpTestServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(impl_->port) + std::string(path);
}

void HttpTestServer::route(std::string path, Response r) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[std::move(path)] = std::make_shared<const Response>(std::move(r));
}

void HttpTestServer::route(std::string path, std::function<Response(const Request&)> handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[std::move(path)] = std::make_shared<const Handler>(std::move(handler));
}

std::vector<Request> HttpTestServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->log;
}

std::size_t HttpTestServer::requestCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->log.size();
}

std::size_t HttpTestServer::connectionCount() const { return impl_->connections; }

std::size_t HttpTestServer::bodyBytesSent() const { return impl_->bodySent; }

}  // namespace carvo::test
