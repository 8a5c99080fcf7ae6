#pragma once
// The libcurl-backed transfer component. makeCurlTransfer() hands one out behind the Transfer
// interface; tests construct it directly to read its buffer counters.
//
// Everything runs on the caller's thread: libcurl's multi interface is driven from inside the
// six operations, so there is no worker thread, no lock, and an error surfaces from the call
// that observes it. The body passes through a ring of BufferCapacity bytes; when the ring is
// full the transfer is paused, which slows the server down instead of buffering more.
//
// getHeader() returns the final response's lines joined by CRLF, status line first, with no
// CRLF after the last line (the blank line that ends the block is not part of it).

#include <cstddef>
#include <memory>

#include "inet/Transfer.h"

namespace carvo {

// What a test reads to see that memory stays bounded and back-pressure works.
struct TransferStats {
    std::size_t bufferedBytes = 0;      // body bytes held in the ring now
    std::size_t peakBufferedBytes = 0;  // the most held at once since the last execute
    std::size_t pauses = 0;             // times the server was held back since the last execute
};

class CurlTransfer final : public Transfer {
public:
    static constexpr std::size_t BufferCapacity = std::size_t{1} << 20;

    explicit CurlTransfer(YieldFn yield, TransferOptions options = {});
    ~CurlTransfer() override;
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    void setUrl(std::string url) override;
    const std::string& url() const override;
    void execute(std::string_view operation = "GET", std::string_view extraHeaders = {}) override;
    bool stillExecuting() override;
    std::string getHeader() override;
    std::string getHeader(std::string_view name) override;
    ByteArray getChunk(std::int32_t size) override;
    void cancel() override;
    void setStopRequest(std::function<bool()> stopRequested) override;
    int proxyRefusal() override;

    TransferStats stats() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace carvo
