// The transfer component against the loopback server: which header block a caller sees, exact
// piece sizes, failures that must surface as errors, yielding, re-entrant cancels and bounded
// memory.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HttpTestServer.h"
#include "NginxServer.h"
#include "TestCertificates.h"
#include "automation/ComError.h"
#include "inet/CurlTransfer.h"

using namespace std::chrono_literals;
using carvo::ByteArray;
using carvo::ComError;
using carvo::CurlTransfer;
using carvo::TransferOptions;
using carvo::test::HttpTestServer;
using carvo::test::Response;
using Clock = std::chrono::steady_clock;

namespace {

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7) % 251);
    return s;
}

std::string text(const ByteArray& b) { return std::string(b.begin(), b.end()); }

Response ok(std::string body) {
    Response r;
    r.body = std::move(body);
    return r;
}

Response redirect(std::string location, std::string status = "HTTP/1.1 302 Found") {
    Response r;
    r.statusLine = std::move(status);
    r.headers = {{"Location", std::move(location)}};
    r.body = "moved";
    return r;
}

// A port on which nothing listens.
std::uint16_t closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

class TransferTest : public ::testing::Test {
protected:
    HttpTestServer server;
    TransferOptions options;
    int yields = 0;
    std::vector<Clock::time_point> yieldTimes;
    std::function<void()> onYield;
    std::unique_ptr<CurlTransfer> component;

    CurlTransfer& t() {
        if (!component)
            component = std::make_unique<CurlTransfer>(
                [this] {
                    ++yields;
                    yieldTimes.push_back(Clock::now());
                    if (onYield) onYield();
                },
                options);
        return *component;
    }

    // Polls as the control does, with a deadline so a fault shows as a failure, not a hang.
    bool waitHeaders() {
        const auto deadline = Clock::now() + 20s;
        while (t().stillExecuting())
            if (Clock::now() > deadline) return false;
        return true;
    }

    void open(const std::string& url, std::string_view extra = {}) {
        t().setUrl(url);
        t().execute("GET", extra);
        ASSERT_TRUE(waitHeaders());
    }

    // Reads to the end, checking that every piece but the last is exactly n bytes and that
    // the end is reported by an empty piece (repeatedly).
    std::string readAll(std::int32_t n) {
        std::string body;
        for (;;) {
            ByteArray piece = t().getChunk(n);
            body += text(piece);
            if (piece.size() < static_cast<std::size_t>(n)) {
                if (!piece.empty()) {
                    EXPECT_TRUE(t().getChunk(n).empty());
                }
                EXPECT_TRUE(t().getChunk(n).empty());
                return body;
            }
        }
    }
};

// --- which header block the caller sees ---

TEST_F(TransferTest, HeaderBlockIsTheFinalResponsesAlone) {
    server.route("/old", redirect("/older", "HTTP/1.1 301 Moved Permanently"));
    server.route("/older", redirect(server.url("/new")));
    Response fin = ok("data");
    fin.headers = {{"X-Final", "yes"}};
    server.route("/new", fin);
    open(server.url("/old"));
    EXPECT_EQ(t().getHeader(),
              "HTTP/1.1 200 OK\r\nX-Final: yes\r\nContent-Length: 4\r\nConnection: close");
    EXPECT_EQ(readAll(1024), "data");
    ASSERT_EQ(server.requestCount(), 3u);
    EXPECT_EQ(server.requests()[2].target, "/new");

    // Interim 1xx responses are skipped too.
    Response interim = ok("after continue");
    interim.statusLine = "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK";
    server.route("/interim", interim);
    open(server.url("/interim"));
    EXPECT_EQ(t().getHeader().substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(readAll(7), "after continue");
}

TEST_F(TransferTest, AFinalStatusLineInAnyCaseStartsItsOwnBlock) {
    // libcurl takes "http/1.1" as well as "HTTP/1.1": after a 100 Continue or a followed
    // redirect, the final block is still the final response's alone.
    Response interim = ok("after continue");
    interim.statusLine = "HTTP/1.1 100 Continue\r\n\r\nhttp/1.1 200 OK";
    server.route("/interim", interim);
    server.route("/moved", redirect("/lower"));
    Response lower = ok("lower");
    lower.statusLine = "Http/1.1 200 OK";
    server.route("/lower", lower);
    for (const char* path : {"/interim", "/moved"}) {
        open(server.url(path));
        EXPECT_EQ(t().getHeader().substr(0, 17), std::string(path) == "/moved" ? "Http/1.1 200 OK\r\n" : "http/1.1 200 OK\r\n") << path;
        EXPECT_EQ(t().getHeader("Location"), "") << path;
    }
}

TEST_F(TransferTest, NonRedirectStatusesAreFinalAndReadable) {
    Response old = ok("legacy");
    old.statusLine = "HTTP/1.0 200 OK";
    server.route("/old-server", old);
    Response missing = ok("no such file");
    missing.statusLine = "HTTP/1.1 404 Not Found";
    server.route("/missing", missing);
    Response nowhere = ok("");
    nowhere.statusLine = "HTTP/1.1 302 Found";  // no Location: nothing to follow
    server.route("/nowhere", nowhere);

    open(server.url("/old-server"));
    EXPECT_EQ(t().getHeader().substr(0, 17), "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(readAll(1024), "legacy");
    open(server.url("/missing"));
    EXPECT_EQ(t().getHeader().substr(0, 24), "HTTP/1.1 404 Not Found\r\n");
    EXPECT_EQ(readAll(1024), "no such file");
    open(server.url("/nowhere"));
    EXPECT_EQ(t().getHeader().substr(0, 20), "HTTP/1.1 302 Found\r\n");
    EXPECT_EQ(readAll(1024), "");
}

TEST_F(TransferTest, HeaderNamesMatchInAnyCase) {
    Response r = ok("0123456789");
    r.headers = {{"X-Mixed-Case", " padded value "}, {"x-lower", "a"}, {"X-Lower", "b"}};
    server.route("/h", r);
    open(server.url("/h"));
    EXPECT_EQ(t().getHeader("Content-Length"), "10");
    EXPECT_EQ(t().getHeader("content-length"), "10");
    EXPECT_EQ(t().getHeader("CONTENT-LENGTH"), "10");
    EXPECT_EQ(t().getHeader("x-mixed-case"), "padded value");
    EXPECT_EQ(t().getHeader("X-LOWER"), "a");  // the first of repeated headers
    EXPECT_EQ(t().getHeader("Absent"), "");
    EXPECT_EQ(t().getHeader("HTTP/1.1 200 OK"), "");  // the status line is no header
}

TEST_F(TransferTest, ExtraHeaderLinesReachTheServer) {
    Response r = ok("0123456789");
    r.honourRange = true;
    server.route("/r", r);
    open(server.url("/r"), "Range: bytes=4-");
    EXPECT_EQ(server.requests().back().header("Range"), "bytes=4-");
    EXPECT_EQ(server.requests().back().header("Accept-Encoding"), "");
    EXPECT_EQ(server.requests().back().version, "HTTP/1.1");
    EXPECT_EQ(t().getHeader().substr(0, 30), "HTTP/1.1 206 Partial Content\r\n");
    EXPECT_EQ(t().getHeader("Content-Range"), "bytes 4-9/10");
    EXPECT_EQ(readAll(3), "456789");
}

// --- failures surface as errors ---

TEST_F(TransferTest, RefusedSchemesAndEndlessRedirectsFail) {
    server.route("/to-ftp", redirect("ftp://127.0.0.1/file"));
    server.route("/to-file", redirect("file:///etc/passwd"));
    server.route("/loop", redirect("/loop"));
    for (std::string url : {server.url("/to-ftp"), server.url("/to-file"), server.url("/loop"),
                            std::string("ftp://127.0.0.1/file"), std::string("not a url")}) {
        SCOPED_TRACE(url);
        open(url);
        EXPECT_THROW(t().getHeader(), ComError);
        EXPECT_THROW(t().getHeader("Content-Length"), ComError);
        EXPECT_THROW(t().getChunk(1024), ComError);
    }
    // The first request and ten redirects, then libcurl gives up.
    std::size_t loops = 0;
    for (const auto& r : server.requests()) loops += r.target == "/loop";
    EXPECT_EQ(loops, 11u);
}

TEST_F(TransferTest, RefusedConnectionFails) {
    open("http://127.0.0.1:" + std::to_string(closedPort()) + "/x");
    EXPECT_THROW(t().getHeader(), ComError);
    EXPECT_THROW(t().getChunk(10), ComError);
}

TEST_F(TransferTest, ConnectionNeverAcceptedEndsThroughTheConnectTimeOut) {
    // A listener that never accepts, its queue filled: further connection attempts go
    // unanswered, as with a host that drops them.
    options.connectTimeoutMs = 300;
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        fillers.push_back(fd);
    }
    open("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x");
    try {
        t().getHeader();
        ADD_FAILURE() << "an unanswered connection must fail the request";
    } catch (const ComError& e) {
        // libcurl words it "Timeout was reached" or "Connection timeout after N ms".
        std::string what = e.what();
        for (char& c : what) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_NE(what.find("timeout"), std::string::npos) << e.what();
    }
    for (int fd : fillers) ::close(fd);
    ::close(listener);
}

TEST_F(TransferTest, BodyCutShortFailsAfterTheBytesBeforeTheCut) {
    Response cut = ok(pattern(100'000));
    cut.dropAfter = 50'000;
    server.route("/cut", cut);
    Response cutChunked = cut;
    cutChunked.chunked = true;
    server.route("/cut-chunked", cutChunked);
    for (const char* path : {"/cut", "/cut-chunked"}) {
        SCOPED_TRACE(path);
        open(server.url(path));
        std::string got;
        bool threw = false;
        try {
            for (;;) {
                ByteArray piece = t().getChunk(1024);
                ASSERT_EQ(piece.size(), 1024u);  // never a short piece that looks like the end
                got += text(piece);
            }
        } catch (const ComError&) {
            threw = true;
        }
        EXPECT_TRUE(threw);
        EXPECT_EQ(got, pattern(100'000).substr(0, 48 * 1024));
    }
}

TEST_F(TransferTest, BodyWithoutLengthEndsWithTheConnection) {
    Response r = ok(pattern(70'000));
    r.contentLength = false;
    server.route("/open-ended", r);
    open(server.url("/open-ended"));
    EXPECT_EQ(t().getHeader("Content-Length"), "");
    EXPECT_EQ(readAll(4096), pattern(70'000));
}

TEST_F(TransferTest, SilentServerEndsThroughTheStallTimeOut) {
    options.stallTimeoutMs = 500;
    Response silent;
    silent.neverRespond = true;
    server.route("/silent", silent);
    Response stalls = ok("late body");
    stalls.bodyDelay = 20s;  // the server stops it when the test ends
    server.route("/stalls", stalls);

    t().setUrl(server.url("/silent"));
    t().execute();
    ASSERT_TRUE(waitHeaders());
    try {
        t().getHeader();
        ADD_FAILURE() << "a silent server must fail the request";
    } catch (const ComError& e) {
        EXPECT_NE(std::string(e.what()).find("no data"), std::string::npos) << e.what();
    }

    open(server.url("/stalls"));
    EXPECT_EQ(t().getHeader("Content-Length"), "9");
    EXPECT_THROW(t().getChunk(9), ComError);
}

TEST_F(TransferTest, NoOpenResponseAndBadSizesFail) {
    server.route("/a", ok("abc"));
    EXPECT_FALSE(t().stillExecuting());
    EXPECT_THROW(t().getHeader(), ComError);
    EXPECT_THROW(t().getHeader("Content-Length"), ComError);
    EXPECT_THROW(t().getChunk(10), ComError);

    open(server.url("/a"));
    // A zero or negative size is an error, not an empty piece that would read as the end,
    // and leaves the response readable.
    EXPECT_THROW(t().getChunk(0), ComError);
    EXPECT_THROW(t().getChunk(-5), ComError);
    EXPECT_EQ(readAll(2), "abc");

    t().cancel();
    EXPECT_FALSE(t().stillExecuting());
    EXPECT_THROW(t().getHeader(), ComError);
    EXPECT_THROW(t().getChunk(10), ComError);
    t().cancel();  // twice is harmless

    EXPECT_THROW(t().execute("POST"), ComError);
}

// --- exact piece sizes ---

TEST_F(TransferTest, PiecesAreExactlyTheSizeAskedUntilTheEnd) {
    for (std::int32_t n : {1, 7, 1024, 65536}) {
        for (std::int64_t len : std::initializer_list<std::int64_t>{0, 1, n - 1, n, n + 1, 3 * n + 2}) {
            if (len < 0) continue;
            for (bool chunked : {false, true}) {
                SCOPED_TRACE("n=" + std::to_string(n) + " len=" + std::to_string(len) +
                             (chunked ? " chunked" : ""));
                const std::string body = pattern(static_cast<std::size_t>(len));
                Response r = ok(body);
                r.chunked = chunked;
                server.route("/b", r);
                open(server.url("/b"));
                std::size_t left = body.size();
                std::string got;
                for (;;) {
                    ByteArray piece = t().getChunk(n);
                    ASSERT_EQ(piece.size(), std::min<std::size_t>(static_cast<std::size_t>(n), left));
                    got += text(piece);
                    left -= piece.size();
                    if (piece.empty()) break;
                }
                EXPECT_TRUE(t().getChunk(n).empty());
                EXPECT_EQ(got, body);
            }
        }
    }
}

TEST_F(TransferTest, PiecesLargerThanTheBufferStillComeWhole) {
    const std::size_t len = 2 * CurlTransfer::BufferCapacity + 12345;
    server.route("/big", ok(pattern(len)));
    open(server.url("/big"));
    const auto n = static_cast<std::int32_t>(CurlTransfer::BufferCapacity + 100);
    std::string got;
    ASSERT_EQ(t().getChunk(n).size(), static_cast<std::size_t>(n));
    ASSERT_EQ(t().getChunk(n).size(), static_cast<std::size_t>(n));
    ASSERT_EQ(t().getChunk(n).size(), len - 2 * static_cast<std::size_t>(n));
    EXPECT_TRUE(t().getChunk(n).empty());
    EXPECT_LE(t().stats().peakBufferedBytes, CurlTransfer::BufferCapacity);

    open(server.url("/big"));
    EXPECT_EQ(text(t().getChunk(INT32_MAX)), pattern(len));
}

// --- re-entrancy through the host's yield ---

TEST_F(TransferTest, CancelFromAYieldEndsTheWaitingCall) {
    Response slow = ok(pattern(200'000));
    slow.bytesPerSecond = 100'000;
    server.route("/slow", slow);
    Response late = ok("x");
    late.headerDelay = 10s;
    server.route("/late", late);
    server.route("/next", ok("fresh"));

    open(server.url("/slow"));
    onYield = [this] { t().cancel(); };
    try {
        t().getChunk(200'000);
        ADD_FAILURE() << "a cancel during the wait must end getChunk";
    } catch (const ComError& e) {
        EXPECT_EQ(std::string(e.what()), "no response open");
    }
    EXPECT_EQ(yields, 1);
    EXPECT_FALSE(t().stillExecuting());
    EXPECT_THROW(t().getChunk(10), ComError);

    // The same while getHeader waits for a slow server.
    onYield = nullptr;
    t().setUrl(server.url("/late"));
    t().execute();
    onYield = [this] { t().cancel(); };
    EXPECT_THROW(t().getHeader(), ComError);

    // A later execute starts afresh.
    onYield = nullptr;
    open(server.url("/next"));
    EXPECT_EQ(readAll(100), "fresh");
}

TEST_F(TransferTest, ExecuteFromAYieldReplacesTheRequest) {
    Response slow = ok(pattern(200'000));
    slow.bytesPerSecond = 100'000;
    server.route("/slow", slow);
    server.route("/other", ok("other body"));
    open(server.url("/slow"));
    onYield = [this] {
        onYield = nullptr;
        t().setUrl(server.url("/other"));
        t().execute();
    };
    EXPECT_THROW(t().getChunk(200'000), ComError);
    ASSERT_TRUE(waitHeaders());
    EXPECT_EQ(readAll(3), "other body");
}

TEST_F(TransferTest, PuttingTheUrlAgainLeavesTheOpenResponseReadable) {
    server.route("/a", ok("body of a"));
    server.route("/b", ok("body of b"));
    open(server.url("/a"));
    t().setUrl(server.url("/b"));
    EXPECT_EQ(t().url(), server.url("/b"));
    EXPECT_EQ(t().getHeader("Content-Length"), "9");
    EXPECT_EQ(readAll(4), "body of a");
    open(server.url("/b"));
    EXPECT_EQ(readAll(4), "body of b");

    t().execute("HEAD");
    ASSERT_TRUE(waitHeaders());
    EXPECT_EQ(t().getHeader("Content-Length"), "9");
    EXPECT_TRUE(t().getChunk(4).empty());
    EXPECT_EQ(server.requests().back().method, "HEAD");
    EXPECT_EQ(server.requestCount(), 3u);
}

// --- yielding and memory ---

// Loose on purpose: the bound is 50 ms between yields; a busy machine may stretch a gap, so
// this asks only for one yield per 100 ms on average.
TEST_F(TransferTest, YieldsWhileWaitingAndWhileDataFlows) {
    Response slow = ok(pattern(60'000));
    slow.bytesPerSecond = 120'000;
    server.route("/slow", slow);
    open(server.url("/slow"));
    yields = 0;
    auto start = Clock::now();
    EXPECT_EQ(t().getChunk(60'000).size(), 60'000u);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(yields, ms / 100) << ms << " ms";
    EXPECT_GE(yields, 2);

    const std::size_t len = 48u << 20;
    server.route("/fast", ok(pattern(len)));
    open(server.url("/fast"));
    yields = 0;
    start = Clock::now();
    std::size_t total = 0;
    for (ByteArray p; !(p = t().getChunk(65536)).empty();) total += p.size();
    ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(total, len);
    EXPECT_GE(yields, ms / 100) << ms << " ms";
}

TEST_F(TransferTest, BufferStaysBoundedAndHoldsTheServerBack) {
    // Held back for longer than the stall limit, the transfer is not taken for a stalled one.
    options.stallTimeoutMs = 300;
    const std::size_t len = 64u << 20;
    const std::string body = pattern(len);
    server.route("/large", ok(body));
    open(server.url("/large"));

    // A caller that polls without reading: the ring fills, then the transfer pauses.
    const auto deadline = Clock::now() + 20s;
    while (t().stats().pauses == 0 && Clock::now() < deadline) t().stillExecuting();
    ASSERT_GT(t().stats().pauses, 0u);
    for (const auto until = Clock::now() + 3 * 300ms; Clock::now() < until;) t().stillExecuting();
    EXPECT_LE(t().stats().bufferedBytes, CurlTransfer::BufferCapacity);
    EXPECT_GE(t().stats().bufferedBytes, CurlTransfer::BufferCapacity - 16 * 1024);
    // Only the kernel's socket buffers lie between the server and the paused transfer.
    EXPECT_LT(server.bodyBytesSent(), 32u << 20);

    std::size_t offset = 0;
    for (;;) {
        ByteArray piece = t().getChunk(65536);
        if (piece.empty()) break;
        ASSERT_EQ(std::memcmp(piece.data(), body.data() + offset, piece.size()), 0) << offset;
        offset += piece.size();
        ASSERT_LE(t().stats().bufferedBytes, CurlTransfer::BufferCapacity);
    }
    EXPECT_EQ(offset, len);
    EXPECT_LE(t().stats().peakBufferedBytes, CurlTransfer::BufferCapacity);
}

// --- TLS against a real server ---

TEST(TransferTls, VerifiesCertificatesAgainstTheGivenAuthority) {
    if (!carvo::test::NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    carvo::test::ScratchFolder dir("carvo-tls");
    auto certs = carvo::test::makeTestCertificates(dir / "certs");
    std::filesystem::create_directories(dir / "www");
    carvo::test::storeBytes(dir / "www" / "file.bin", pattern(100'000));
    carvo::test::NginxServer nginx({dir / "www", true, certs.certFile, certs.keyFile});

    TransferOptions trusting;
    trusting.caFile = certs.caFile.string();
    CurlTransfer good(nullptr, trusting);
    good.setUrl(nginx.url("/file.bin"));
    good.execute();
    while (good.stillExecuting()) {
    }
    EXPECT_EQ(good.getHeader().substr(0, 15), "HTTP/1.1 200 OK");  // not HTTP/2
    std::string got;
    for (ByteArray p; !(p = good.getChunk(4096)).empty();) got += text(p);
    EXPECT_EQ(got, pattern(100'000));

    CurlTransfer suspicious(nullptr);  // the system's authorities do not know this server
    suspicious.setUrl(nginx.url("/file.bin"));
    suspicious.execute();
    while (suspicious.stillExecuting()) {
    }
    EXPECT_THROW(suspicious.getHeader(), ComError);
}

}  // namespace
