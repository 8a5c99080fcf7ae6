#pragma once
// A scripted HTTP/1.x server on 127.0.0.1 for tests: each route answers with an exact status
// line, headers and body, with optional delays, throttling, a cut after N body bytes, chunked
// coding and byte ranges. It records every request it receives.
//
// Every connection is served on its own thread and closed after one response. Handlers given
// to route() run on those threads, so a handler touching test state must guard it itself.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace carvo::test {

struct Request {
    std::string method, target, version;   // from the request line
    std::vector<std::string> headerLines;  // raw "Name: value" lines, in order
    // The value of the first header called name (any case), trimmed; "" if absent.
    std::string header(std::string_view name) const;
};

struct Response {
    std::string statusLine = "HTTP/1.1 200 OK";  // sent exactly as given
    std::vector<std::pair<std::string, std::string>> headers;  // sent in order
    std::string body;
    bool contentLength = true;  // add Content-Length: body.size() unless headers already have one
    bool chunked = false;       // Transfer-Encoding: chunked instead of a length
    std::chrono::milliseconds headerDelay{0};   // before the status line
    std::chrono::milliseconds bodyDelay{0};     // between header block and body
    std::size_t dropAfter = std::string::npos;  // close the connection after N body bytes
    std::size_t stallAfter = std::string::npos;  // after N body bytes, send nothing more until
                                                 // the server stops (the connection stays open)
    std::size_t bytesPerSecond = 0;             // throttle the body; 0 = full speed
    std::chrono::milliseconds trickle{0};       // one body byte, then this long, and again
    bool neverRespond = false;  // read the request, then send nothing until the server stops
    bool honourRange = false;   // "Range: bytes=N-" -> 206 + Content-Range with body from N;
                                // N beyond the end -> 416; a malformed range -> full 200
    bool bodyETag = true;       // with honourRange: a strong ETag made from the body, as a careful
                                // server sends, unless headers name one (or this is false)
    bool connectionClose = true;  // add "Connection: close" unless headers already have one
};

class HttpTestServer {
public:
    HttpTestServer();   // 127.0.0.1, ephemeral port, serves on its own threads
    ~HttpTestServer();  // stops promptly even with neverRespond or stalled connections open
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    std::uint16_t port() const;
    std::string url(std::string_view path) const;  // "http://127.0.0.1:PORT" + path
    void route(std::string path, Response r);      // exact match on the target
    void route(std::string path, std::function<Response(const Request&)> handler);
    std::vector<Request> requests() const;  // every request received, in order
    std::size_t requestCount() const;
    // Connections accepted so far (a refused or failed request may never send a request line).
    std::size_t connectionCount() const;
    // Body bytes handed to the kernel so far, over all connections (to see back-pressure).
    std::size_t bodyBytesSent() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace carvo::test
