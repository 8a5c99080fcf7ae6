#pragma once
// The HTTP transfer component a DownLoad control owns as i1: six operations, polled by the
// control. Execute returns at once; the response is readable once StillExecuting is false.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "automation/Variant.h"

namespace carvo {

class Transfer {
public:
    virtual ~Transfer() = default;

    // Property put URL: the address the next execute requests. Putting it again while a
    // response is open leaves that response readable.
    virtual void setUrl(std::string url) = 0;
    virtual const std::string& url() const = 0;
    // Starts operation (always "GET" here) on url(); extraHeaders are full header lines
    // separated by CRLF (a resume passes "Range: bytes=N-"). Returns at once.
    virtual void execute(std::string_view operation = "GET", std::string_view extraHeaders = {}) = 0;
    // True while the request runs and the final response's headers are not yet in.
    virtual bool stillExecuting() = 0;
    // The header block of the final response, status line first, lines separated by CRLF.
    virtual std::string getHeader() = 0;
    // One header's value ("" when absent), name matched without regard to case.
    virtual std::string getHeader(std::string_view name) = 0;
    // The next min(size, bytes left) bytes of the body, waiting for them. Throws ComError on
    // a failed request, a body cut short, or when no response is open. When the stop request
    // holds while it waits, it hands back what it has (perhaps nothing) at once instead.
    virtual ByteArray getChunk(std::int32_t size) = 0;
    // Ends the request in progress, if any.
    virtual void cancel() = 0;
    // The status with which an HTTP proxy refused the request itself, as far as the request
    // has come: 407 (or a 401 that the proxy made up itself), or the status of a refused
    // CONNECT for https. 0 when no proxy refused it, or none is in the way.
    virtual int proxyRefusal() { return 0; }
    // What the owner gives the component so that a cancel or a pause acts while getChunk
    // waits: asked after every short wait on the network and after every yield to the host.
    // A piece handed back early because it held is not the end of the body.
    virtual void setStopRequest(std::function<bool()> stopRequested) { (void)stopRequested; }
};

// Settings a host or a test may give the component. Zero time-outs mean the defaults.
struct TransferOptions {
    long connectTimeoutMs = 0;   // default 30 s
    long stallTimeoutMs = 0;     // default 60 s without a byte
    std::string caFile;          // extra certificate authority file for tests; "" = system's
};

using YieldFn = std::function<void()>;

// The libcurl-backed component. yield is called at least every 50 ms while a call waits.
std::unique_ptr<Transfer> makeCurlTransfer(YieldFn yield, TransferOptions options = {});

}  // namespace carvo
