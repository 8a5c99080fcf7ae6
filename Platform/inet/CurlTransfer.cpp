#include "inet/CurlTransfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "automation/ComError.h"

namespace carvo {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The host is yielded to this often while a call waits or data flows; with the poll below
// the longest gap stays well under 50 ms.
constexpr milliseconds YieldEvery{25};
// One wait on the sockets. Short, because a paused transfer makes libcurl wait it out in full.
constexpr int PollMs = 10;
// A paused transfer resumes only with this much room in the ring: libcurl hands back what it
// held (up to one read buffer) at once, and with less room it would pause again straight
// away and copy the rest once more. Never below CURL_MAX_WRITE_SIZE, or it could stall.
constexpr std::size_t ResumeRoom = std::max<std::size_t>(CurlTransfer::BufferCapacity / 4, CURL_MAX_WRITE_SIZE);
// A gap this long between two of our own waits means the caller was busy elsewhere (a paused
// download, a dialog); it does not count towards the stall time-out.
constexpr milliseconds CallerAway{1000};

constexpr long ReadBufferSize = 128 * 1024;
constexpr long DefaultConnectTimeoutMs = 30'000;
// A connection that delivers nothing for this long, while we are not holding it back, has
// stalled, and the request fails so that the owner can retry (and resume). A minute outlasts
// what a live server or proxy goes quiet for (a slow disk, a busy origin behind a proxy, a
// mobile link that drops for a few seconds; TCP itself gives up on a lost segment after about
// fifteen minutes, and wget waits as long), while a user at the window would not wait longer
// before giving up by hand. Time the caller spends away (a paused download, a dialog) and time
// the transfer is paused because the ring is full never count.
constexpr long DefaultStallTimeoutMs = 60'000;
constexpr long MaxRedirects = 10;

void initialiseCurl() {
    // libcurl's own process-wide set-up; it is never undone, as libcurl may still be in use
    // by another component when this one goes.
    static const CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (rc != CURLE_OK) throw ComError(hr::Fail, curl_easy_strerror(rc));
}

[[noreturn]] void throwNoResponse() { throw ComError(hr::Fail, "no response open"); }

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// The status code of a status line such as "HTTP/1.1 302 Found"; 0 when there is none.
int statusCode(std::string_view statusLine) {
    auto sp = statusLine.find(' ');
    if (sp == std::string_view::npos || statusLine.size() < sp + 4) return 0;
    int code = 0;
    for (char c : statusLine.substr(sp + 1, 3)) {
        if (c < '0' || c > '9') return 0;
        code = code * 10 + (c - '0');
    }
    return code;
}

// A fixed-size byte ring: the body between the network and the caller.
class ByteRing {
public:
    explicit ByteRing(std::size_t capacity) : data_(capacity) {}
    std::size_t size() const { return size_; }
    std::size_t room() const { return data_.size() - size_; }
    void clear() { head_ = size_ = 0; }

    // n must not exceed room().
    void put(const char* src, std::size_t n) {
        std::size_t tail = (head_ + size_) % data_.size();
        std::size_t first = std::min(n, data_.size() - tail);
        std::memcpy(data_.data() + tail, src, first);
        std::memcpy(data_.data(), src + first, n - first);
        size_ += n;
    }
    // Moves up to n bytes to the end of out.
    void takeInto(ByteArray& out, std::size_t n) {
        n = std::min(n, size_);
        std::size_t first = std::min(n, data_.size() - head_);
        out.insert(out.end(), data_.begin() + static_cast<std::ptrdiff_t>(head_),
                   data_.begin() + static_cast<std::ptrdiff_t>(head_ + first));
        out.insert(out.end(), data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(n - first));
        head_ = (head_ + n) % data_.size();
        size_ -= n;
        if (size_ == 0) head_ = 0;
    }

private:
    std::vector<std::uint8_t> data_;
    std::size_t head_ = 0, size_ = 0;
};

struct EasyDeleter {
    void operator()(CURL* e) const { curl_easy_cleanup(e); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

struct CurlTransfer::Impl {
    // One request, from execute to cancel (or the next execute).
    struct Request {
        std::unique_ptr<CURL, EasyDeleter> easy;
        std::unique_ptr<curl_slist, SlistDeleter> headerList;
        char errorBuffer[CURL_ERROR_SIZE] = {};
        bool inMulti = false;

        std::vector<std::string> block;  // lines of the response whose header is arriving
        bool blockHasLocation = false;
        bool blockEnded = false;
        std::vector<std::string> finalBlock;
        bool headersFinal = false;

        bool connected = false;
        bool paused = false;
        // The request line went to an HTTP proxy in absolute form ("GET http://..."): the
        // answer may be the proxy's own rather than the server's.
        bool viaProxy = false;
        int proxyRefusal = 0;
        Clock::time_point lastActivity = Clock::now();

        bool finished = false;
        CURLcode result = CURLE_OK;
        std::string error;
    };

    YieldFn yield;
    std::function<bool()> stopRequested;
    TransferOptions options;
    std::string url;
    std::unique_ptr<CURLM, MultiDeleter> multi;
    ByteRing ring{BufferCapacity};
    std::unique_ptr<Request> req;
    // Bumped by execute and cancel, so a wait can tell that a yield replaced its request.
    std::uint64_t generation = 0;
    Clock::time_point lastYield = Clock::now();
    Clock::time_point lastPump = Clock::now();
    TransferStats stats;

    Impl(YieldFn y, TransferOptions o) : yield(std::move(y)), options(std::move(o)) {
        initialiseCurl();
        multi.reset(curl_multi_init());
        if (!multi) throw ComError(hr::Fail, "cannot create a transfer");
        if (options.connectTimeoutMs <= 0) options.connectTimeoutMs = DefaultConnectTimeoutMs;
        if (options.stallTimeoutMs <= 0) options.stallTimeoutMs = DefaultStallTimeoutMs;
    }

    ~Impl() { dropRequest(); }

    void dropRequest() {
        if (req && req->inMulti) curl_multi_remove_handle(multi.get(), req->easy.get());
        req.reset();
        ring.clear();
    }

    // --- libcurl callbacks (they run inside curl_multi_perform or curl_easy_pause) ---

    static void settle(Request& r) {
        r.finalBlock = std::move(r.block);
        r.block.clear();
        r.headersFinal = true;
        r.proxyRefusal = proxyRefusalOf(r);
    }

    // Only a proxy answers 407. A proxy that refuses a user and password with 401 instead (as
    // tinyproxy does) is told from the server by what a proxy adds to every answer it passes
    // on from a server, and leaves out of its own: a Via line.
    static int proxyRefusalOf(const Request& r) {
        if (r.finalBlock.empty()) return 0;
        const int code = statusCode(r.finalBlock.front());
        if (code == 407) return 407;
        if (code != 401 || !r.viaProxy) return 0;
        constexpr std::string_view via = "via:";
        for (std::size_t i = 1; i < r.finalBlock.size(); ++i) {
            const std::string_view line = r.finalBlock[i];
            if (line.size() >= via.size() && iequals(line.substr(0, via.size()), via)) return 0;
        }
        return 401;
    }

    // Sees the request lines libcurl sends (and nothing else is done with what it reports).
    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
        if (type != CURLINFO_HEADER_OUT) return 0;
        auto& self = *static_cast<Impl*>(user);
        if (!self.req) return 0;
        const std::string_view text(data, size);
        const auto sp = text.find(' ');
        if (sp != std::string_view::npos) {
            const std::string_view target = text.substr(sp + 1, 8);
            self.req->viaProxy = target.starts_with("http://") || target.starts_with("https://");
        }
        return 0;
    }

    static size_t onHeader(char* buffer, size_t size, size_t count, void* user) {
        auto& self = *static_cast<Impl*>(user);
        Request& r = *self.req;
        const size_t len = size * count;
        r.lastActivity = Clock::now();
        if (r.headersFinal) return len;  // trailers of a chunked body

        std::string_view line(buffer, len);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        if (line.empty()) {
            if (r.block.empty()) return len;
            r.blockEnded = true;
            // libcurl follows a 3xx that names a non-empty Location, and reads past every 1xx;
            // any other block is the final response's.
            const int code = statusCode(r.block.front());
            const bool interim = code >= 100 && code < 200;
            const bool followed = code >= 300 && code < 400 && r.blockHasLocation;
            if (!interim && !followed) settle(r);
            return len;
        }
        // The first line after a blank one is the status line of the next response, whatever
        // the case of its protocol name ("http/1.1 200 OK" too, which libcurl accepts).
        if (r.blockEnded) {
            r.block.clear();
            r.blockHasLocation = false;
            r.blockEnded = false;
        }
        r.block.emplace_back(line);
        constexpr std::string_view location = "location:";
        if (line.size() > location.size() && iequals(line.substr(0, location.size()), location) &&
            !trim(line.substr(location.size())).empty())
            r.blockHasLocation = true;
        return len;
    }

    static size_t onBody(char* buffer, size_t size, size_t count, void* user) {
        auto& self = *static_cast<Impl*>(user);
        Request& r = *self.req;
        const size_t len = size * count;
        r.lastActivity = Clock::now();
        if (!r.headersFinal && !r.block.empty()) settle(r);  // body bytes settle it
        if (len > self.ring.room()) {
            r.paused = true;
            ++self.stats.pauses;
            return CURL_WRITEFUNC_PAUSE;
        }
        self.ring.put(buffer, len);
        self.stats.peakBufferedBytes = std::max(self.stats.peakBufferedBytes, self.ring.size());
        return len;
    }

    static int onConnected(void* user, char*, char*, int, int) {
        auto& self = *static_cast<Impl*>(user);
        self.req->connected = true;
        self.req->lastActivity = Clock::now();
        return CURL_PREREQFUNC_OK;
    }

    // --- driving the transfer ---

    static void finish(Request& r, CURLcode result, std::string message) {
        r.finished = true;
        r.result = result;
        r.error = std::move(message);
    }

    void stop(Request& r) {
        if (r.inMulti) curl_multi_remove_handle(multi.get(), r.easy.get());
        r.inMulti = false;
        r.paused = false;
    }

    void readMessages(Request& r) {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left)) {
            if (msg->msg != CURLMSG_DONE || msg->easy_handle != r.easy.get()) continue;
            const CURLcode result = msg->data.result;
            stop(r);
            if (result != CURLE_OK) {
                // A CONNECT the proxy refused: its status is the proxy's own answer.
                long connectCode = 0;
                if (!r.headersFinal &&
                    curl_easy_getinfo(r.easy.get(), CURLINFO_HTTP_CONNECTCODE, &connectCode) == CURLE_OK &&
                    connectCode >= 300)
                    r.proxyRefusal = static_cast<int>(connectCode);
                finish(r, result, r.errorBuffer[0] ? r.errorBuffer : curl_easy_strerror(result));
            } else if (!r.headersFinal && !r.block.empty() && r.blockEnded) {
                settle(r);  // a clean finish settles a block without body
                finish(r, CURLE_OK, {});
            } else if (!r.headersFinal) {
                finish(r, CURLE_GOT_NOTHING, "no response from the server");
            } else {
                finish(r, CURLE_OK, {});
            }
        }
    }

    // Lets libcurl move data without waiting, then looks for the end and for a stall.
    void pump(Request& r) {
        const auto now = Clock::now();
        if (now - lastPump > CallerAway) r.lastActivity = std::max(r.lastActivity, now);
        lastPump = now;
        if (r.finished) return;
        int running = 0;
        const CURLMcode mc = curl_multi_perform(multi.get(), &running);
        if (mc != CURLM_OK) {
            stop(r);
            finish(r, CURLE_FAILED_INIT, curl_multi_strerror(mc));
            return;
        }
        readMessages(r);
        if (r.finished) return;
        const auto after = Clock::now();
        // A paused transfer is quiet because of us, not because of the server.
        if (r.paused) r.lastActivity = after;
        if (r.connected && after - r.lastActivity > milliseconds(options.stallTimeoutMs)) {
            stop(r);
            finish(r, CURLE_OPERATION_TIMEDOUT,
                   "no data received for " + std::to_string(options.stallTimeoutMs) + " ms");
        }
    }

    void waitForSockets() {
        curl_multi_poll(multi.get(), nullptr, 0, PollMs, nullptr);
    }

    // Yields to the host when one is due; false when the yield ended or replaced the request.
    bool yieldIfDue(std::uint64_t gen) {
        if (Clock::now() - lastYield < YieldEvery) return true;
        if (yield) yield();
        lastYield = Clock::now();
        return gen == generation && req;
    }

    [[noreturn]] static void throwFailure(const Request& r) {
        throw ComError(hr::Fail, r.error.empty() ? "the request failed" : r.error);
    }

    // Waits (yielding) until the final response's header block is in; throws when there is
    // no request, when it fails first, or when a yield cancels or replaces it. A stoppable
    // wait gives up (nullptr) when the owner asks to stop.
    Request* awaitHeaders(bool stoppable = false) {
        if (!req) throwNoResponse();
        const std::uint64_t gen = generation;
        for (;;) {
            Request& r = *req;
            if (r.headersFinal) return &r;
            if (r.finished) throwFailure(r);
            if (stoppable && stopping()) return nullptr;
            pump(r);
            if (r.headersFinal || r.finished) continue;
            waitForSockets();
            if (!yieldIfDue(gen)) throwNoResponse();
        }
    }

    void resumeIfRoom(Request& r) {
        if (!r.paused || !r.inMulti || ring.room() < ResumeRoom) return;
        r.paused = false;
        // This may call onBody at once with the data held back, and pause again.
        const CURLcode rc = curl_easy_pause(r.easy.get(), CURLPAUSE_CONT);
        if (rc != CURLE_OK) {
            stop(r);
            finish(r, rc, curl_easy_strerror(rc));
        }
    }

    void start(std::string_view operation, std::string_view extraHeaders) {
        auto r = std::make_unique<Request>();
        r->easy.reset(curl_easy_init());
        if (!r->easy) throw ComError(hr::Fail, "cannot create a request");
        CURL* e = r->easy.get();

        curl_slist* list = nullptr;
        while (!extraHeaders.empty()) {
            auto nl = extraHeaders.find('\n');
            auto line = trim(extraHeaders.substr(0, nl));
            extraHeaders.remove_prefix(nl == std::string_view::npos ? extraHeaders.size() : nl + 1);
            if (line.empty()) continue;
            curl_slist* grown = curl_slist_append(list, std::string(line).c_str());
            if (!grown) {
                curl_slist_free_all(list);
                throw ComError(hr::Fail, "out of memory");
            }
            list = grown;
        }
        r->headerList.reset(list);

        bool ok = true;
        auto set = [&](CURLoption opt, auto value) { ok = ok && curl_easy_setopt(e, opt, value) == CURLE_OK; };
        set(CURLOPT_URL, url.c_str());
        if (operation == "HEAD") set(CURLOPT_NOBODY, 1L);
        set(CURLOPT_HTTPHEADER, r->headerList.get());
        set(CURLOPT_ERRORBUFFER, r->errorBuffer);
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_QUICK_EXIT, 1L);
        // Some servers refuse requests that do not say who asks.
        set(CURLOPT_USERAGENT, "Carvo/1.0");
        // HTTP/1.1 on the wire whatever the scheme: callers read the version from the status
        // line, and pausing HTTP/2 streams misbehaves in this libcurl.
        set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        set(CURLOPT_PROTOCOLS_STR, "http,https");
        set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        set(CURLOPT_FOLLOWLOCATION, 1L);
        set(CURLOPT_MAXREDIRS, MaxRedirects);
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, 2L);
        if (!options.caFile.empty()) set(CURLOPT_CAINFO, options.caFile.c_str());
        set(CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
        // Fewer, larger reads from the socket; the write callback still gets 16 KiB at most.
        set(CURLOPT_BUFFERSIZE, ReadBufferSize);
        set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        // No Accept-Encoding: a paused transfer would hold whole decompressed blocks.
        set(CURLOPT_HEADERFUNCTION, &Impl::onHeader);
        set(CURLOPT_HEADERDATA, this);
        set(CURLOPT_WRITEFUNCTION, &Impl::onBody);
        set(CURLOPT_WRITEDATA, this);
        set(CURLOPT_PREREQFUNCTION, &Impl::onConnected);
        set(CURLOPT_PREREQDATA, this);
        // The proxy, if any, comes from the environment as libcurl reads it (http_proxy,
        // https_proxy, all_proxy, no_proxy; credentials in the proxy's address): no proxy
        // option is set here, so that nothing overrides what the user chose. The request
        // lines are watched to know when a proxy stands between us and the server.
        set(CURLOPT_DEBUGFUNCTION, &Impl::onDebug);
        set(CURLOPT_DEBUGDATA, this);
        set(CURLOPT_VERBOSE, 1L);
        if (!ok) throw ComError(hr::Fail, "cannot set up the request");

        req = std::move(r);
        if (curl_multi_add_handle(multi.get(), e) != CURLM_OK) {
            req.reset();
            throw ComError(hr::Fail, "cannot start the request");
        }
        req->inMulti = true;
        lastPump = Clock::now();
        stats = {};
    }

    bool stopping() const { return stopRequested && stopRequested(); }

    ByteArray chunk(std::int32_t size) {
        // A zero or negative size can never be satisfied: fail rather than hand back an empty
        // piece, which a caller would take for the end of the body.
        if (size <= 0) throw ComError(hr::InvalidArg, "piece size must be positive");
        if (!awaitHeaders(true)) return {};
        const std::uint64_t gen = generation;
        const auto want = static_cast<std::size_t>(size);
        ByteArray out;
        out.reserve(std::min(want, BufferCapacity));
        for (;;) {
            // Yield even while data keeps flowing, so the host stays responsive.
            if (!yieldIfDue(gen)) throwNoResponse();
            Request& r = *req;
            ring.takeInto(out, want - out.size());
            resumeIfRoom(r);
            if (out.size() == want) break;
            if (r.finished) {
                if (r.result != CURLE_OK) throwFailure(r);
                break;  // the end of the body
            }
            // The owner wants to cancel or pause: a server that trickles must not hold it up.
            if (stopping()) break;
            pump(r);
            if (ring.size() == 0 && !r.finished) waitForSockets();
        }
        // Top the ring up while the caller deals with this piece.
        Request& r = *req;
        if (!r.finished && !r.paused && ring.size() < BufferCapacity / 4) pump(r);
        return out;
    }
};

CurlTransfer::CurlTransfer(YieldFn yield, TransferOptions options)
    : impl_(std::make_unique<Impl>(std::move(yield), std::move(options))) {}

CurlTransfer::~CurlTransfer() = default;

void CurlTransfer::setUrl(std::string url) { impl_->url = std::move(url); }

const std::string& CurlTransfer::url() const { return impl_->url; }

void CurlTransfer::execute(std::string_view operation, std::string_view extraHeaders) {
    if (operation != "GET" && operation != "HEAD")
        throw ComError(hr::InvalidArg, "unsupported operation: " + std::string(operation));
    cancel();
    impl_->start(operation, extraHeaders);
}

bool CurlTransfer::stillExecuting() {
    auto& self = *impl_;
    if (!self.req) return false;
    auto& r = *self.req;
    auto settled = [&] { return r.headersFinal || r.finished; };
    if (settled()) {
        // Keep the body moving for a caller that polls (and let the stall clock see it).
        if (!r.finished && !r.paused) self.pump(r);
        return false;
    }
    self.pump(r);
    if (settled()) return false;
    self.waitForSockets();
    self.pump(r);
    return !settled();
}

std::string CurlTransfer::getHeader() {
    const auto& lines = impl_->awaitHeaders()->finalBlock;
    std::string out;
    for (const auto& line : lines) {
        if (!out.empty()) out += "\r\n";
        out += line;
    }
    return out;
}

std::string CurlTransfer::getHeader(std::string_view name) {
    const auto& lines = impl_->awaitHeaders()->finalBlock;
    // The first header of that name; the status line (index 0) is not a header.
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        auto colon = line.find(':');
        if (colon != std::string_view::npos && iequals(trim(line.substr(0, colon)), trim(name)))
            return std::string(trim(line.substr(colon + 1)));
    }
    return {};
}

ByteArray CurlTransfer::getChunk(std::int32_t size) { return impl_->chunk(size); }

void CurlTransfer::setStopRequest(std::function<bool()> stopRequested) {
    impl_->stopRequested = std::move(stopRequested);
}

int CurlTransfer::proxyRefusal() { return impl_->req ? impl_->req->proxyRefusal : 0; }

void CurlTransfer::cancel() {
    ++impl_->generation;
    impl_->dropRequest();
}

TransferStats CurlTransfer::stats() const {
    TransferStats s = impl_->stats;
    s.bufferedBytes = impl_->ring.size();
    return s;
}

std::unique_ptr<Transfer> makeCurlTransfer(YieldFn yield, TransferOptions options) {
    return std::make_unique<CurlTransfer>(std::move(yield), std::move(options));
}

}  // namespace carvo
