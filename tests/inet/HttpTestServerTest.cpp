// The loopback server every network test leans on: checked here with a bare socket client so
// that a fault in the server is not mistaken for a fault in the transfer component.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "HttpTestServer.h"

using carvo::test::HttpTestServer;
using carvo::test::Request;
using carvo::test::Response;

namespace {

// Sends a raw request and reads until the server closes.
std::string rawExchange(const HttpTestServer& server, const std::string& request) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(server.port());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return "connect failed";
    }
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string out;
    char buf[65536];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return out;
}

std::string get(const HttpTestServer& server, const std::string& target, const std::string& extra = {}) {
    return rawExchange(server, "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n");
}

}  // namespace

TEST(HttpTestServer, AnswersRoutesExactlyAndRecordsRequests) {
    HttpTestServer server;
    Response r;
    r.statusLine = "HTTP/1.0 200 Fine";
    r.headers = {{"X-One", "1"}, {"x-two", "2"}};
    r.body = "hello";
    server.route("/a", r);
    EXPECT_EQ(get(server, "/a", "Range: bytes=5000-\r\n"),
              "HTTP/1.0 200 Fine\r\nX-One: 1\r\nx-two: 2\r\nContent-Length: 5\r\n"
              "Connection: close\r\n\r\nhello");
    EXPECT_EQ(get(server, "/nothing-here").substr(0, 24), "HTTP/1.1 404 Not Found\r\n");

    ASSERT_EQ(server.requestCount(), 2u);
    auto reqs = server.requests();
    EXPECT_EQ(reqs[0].method, "GET");
    EXPECT_EQ(reqs[0].target, "/a");
    EXPECT_EQ(reqs[0].version, "HTTP/1.1");
    EXPECT_EQ(reqs[0].header("RANGE"), "bytes=5000-");
    EXPECT_EQ(reqs[0].header("Absent"), "");
    EXPECT_EQ(reqs[1].target, "/nothing-here");
}

TEST(HttpTestServer, ShapesBodies) {
    HttpTestServer server;
    Response chunked;
    chunked.chunked = true;
    chunked.body = "abcdef";
    server.route("/chunked", chunked);
    Response noLength;
    noLength.contentLength = false;
    noLength.body = "xyz";
    server.route("/nolength", noLength);
    Response cut;
    cut.body = std::string(100, 'q');
    cut.dropAfter = 10;
    server.route("/cut", cut);
    server.route("/handler", [](const Request& req) {
        Response r;
        r.body = "you asked for " + req.target;
        return r;
    });

    auto c = get(server, "/chunked");
    EXPECT_NE(c.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
    EXPECT_EQ(c.substr(c.find("\r\n\r\n") + 4), "6\r\nabcdef\r\n0\r\n\r\n");
    auto head = rawExchange(server, "HEAD /chunked HTTP/1.1\r\n\r\n");
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");  // the header block alone
    EXPECT_EQ(head.find("abcdef"), std::string::npos);
    auto n = get(server, "/nolength");
    EXPECT_EQ(n.find("Content-Length"), std::string::npos);
    EXPECT_EQ(n.substr(n.size() - 5), "\r\nxyz");
    auto d = get(server, "/cut");
    EXPECT_NE(d.find("Content-Length: 100\r\n"), std::string::npos);
    EXPECT_EQ(d.substr(d.find("\r\n\r\n") + 4), std::string(10, 'q'));
    auto h = get(server, "/handler");
    EXPECT_EQ(h.substr(h.find("\r\n\r\n") + 4), "you asked for /handler");
}

TEST(HttpTestServer, HonoursRangesOnlyWhenAskedAndWellFormed) {
    HttpTestServer server;
    Response r;
    r.body = "0123456789";
    r.honourRange = true;
    server.route("/r", r);
    Response ignoring = r;
    ignoring.honourRange = false;
    server.route("/ignore", ignoring);

    auto part = get(server, "/r", "Range: bytes=4-\r\n");
    EXPECT_EQ(part.substr(0, 30), "HTTP/1.1 206 Partial Content\r\n");
    EXPECT_NE(part.find("Content-Range: bytes 4-9/10\r\n"), std::string::npos);
    EXPECT_NE(part.find("Content-Length: 6\r\n"), std::string::npos);
    EXPECT_EQ(part.substr(part.find("\r\n\r\n") + 4), "456789");

    auto beyond = get(server, "/r", "Range: bytes=10-\r\n");
    EXPECT_EQ(beyond.substr(0, 36), "HTTP/1.1 416 Range Not Satisfiable\r\n");
    EXPECT_NE(beyond.find("Content-Range: bytes */10\r\n"), std::string::npos);

    for (const char* bad : {"Range: bytes=x-\r\n", "Range: lines=1-\r\n", "Range: bytes=-3\r\n"}) {
        auto full = get(server, "/r", bad);
        EXPECT_EQ(full.substr(0, 17), "HTTP/1.1 200 OK\r\n") << bad;
        EXPECT_EQ(full.substr(full.find("\r\n\r\n") + 4), "0123456789") << bad;
    }
    auto ignored = get(server, "/ignore", "Range: bytes=4-\r\n");
    EXPECT_EQ(ignored.substr(ignored.find("\r\n\r\n") + 4), "0123456789");
}

TEST(HttpTestServer, StopsPromptlyWithSilentConnectionsOpen) {
    int fd = -1;
    {
        HttpTestServer server;
        Response silent;
        silent.neverRespond = true;
        server.route("/silent", silent);
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(server.port());
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        std::string req = "GET /silent HTTP/1.1\r\n\r\n";
        ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
        // Wait (with a deadline) until the server has the request, then destroy it.
        for (int i = 0; i < 2000 && server.requestCount() == 0; ++i) ::usleep(1000);
        ASSERT_EQ(server.requestCount(), 1u);
    }  // a hang here would be the fault
    char b;
    EXPECT_EQ(::recv(fd, &b, 1, 0), 0);  // closed without a byte
    ::close(fd);
}
