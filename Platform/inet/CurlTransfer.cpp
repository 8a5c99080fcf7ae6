#include "automation/ComError.h"
#include "inet/Transfer.h"

namespace carvo {

namespace {
// Placeholder until the libcurl component lands: every network call fails cleanly.
class UnavailableTransfer : public Transfer {
public:
    void setUrl(std::string url) override { url_ = std::move(url); }
    const std::string& url() const override { return url_; }
    void execute(std::string_view, std::string_view) override { fail(); }
    bool stillExecuting() override { return false; }
    std::string getHeader() override { fail(); }
    std::string getHeader(std::string_view) override { fail(); }
    ByteArray getChunk(std::int32_t) override { fail(); }
    void cancel() override {}

private:
    [[noreturn]] static void fail() { throw ComError(hr::Fail, "no transfer component"); }
    std::string url_;
};
}  // namespace

std::unique_ptr<Transfer> makeCurlTransfer(YieldFn, TransferOptions) {
    return std::make_unique<UnavailableTransfer>();
}

}  // namespace carvo
