#pragma once
// A transfer component the test scripts: a header block, a body, and faults. It records the
// calls the control makes so a test can check the order of its work.

#include <functional>
#include <string>
#include <vector>

#include "automation/ComError.h"
#include "inet/Transfer.h"

namespace carvo::test {

struct FakeTransferScript {
    std::string header = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n";
    std::string body;
    int executingPolls = 0;          // stillExecuting() answers true this many times
    std::size_t failAfterBytes = std::string::npos;  // getChunk throws once this much was read
    bool failExecute = false;
    std::function<void(int)> onPoll;  // called on each stillExecuting poll (1-based)
    // Called on each execute with its extra header lines, to answer a range request differently.
    std::function<void(FakeTransferScript&, std::string_view)> onExecute;
};

class FakeTransfer : public Transfer {
public:
    explicit FakeTransfer(FakeTransferScript* script) : script_(script) {}

    std::vector<std::string> calls;

    void setUrl(std::string url) override {
        calls.push_back("URL " + url);
        url_ = std::move(url);
    }
    const std::string& url() const override { return url_; }
    void execute(std::string_view operation, std::string_view extraHeaders) override {
        // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on " " + text.
        std::string call("Execute ");
        call.append(operation);
        if (!extraHeaders.empty()) call.append(" ").append(extraHeaders);
        calls.push_back(std::move(call));
        if (script_->failExecute) throw ComError(hr::Fail, "cannot connect");
        if (script_->onExecute) script_->onExecute(*script_, extraHeaders);
        open_ = true;
        read_ = 0;
        polls_ = 0;
    }
    bool stillExecuting() override {
        ++polls_;
        if (script_->onPoll) script_->onPoll(polls_);
        return open_ && polls_ <= script_->executingPolls;
    }
    std::string getHeader() override {
        calls.push_back("GetHeader");
        requireOpen();
        return script_->header;
    }
    std::string getHeader(std::string_view name) override {
        calls.push_back("GetHeader " + std::string(name));
        requireOpen();
        std::string lower = lowered(script_->header), key = lowered(std::string(name)) + ":";
        std::size_t at = lower.find("\n" + key);
        if (at == std::string::npos) return {};
        std::size_t b = at + 1 + key.size(), e = script_->header.find("\r\n", b);
        std::string v = script_->header.substr(b, e - b);
        while (!v.empty() && v.front() == ' ') v.erase(0, 1);
        return v;
    }
    ByteArray getChunk(std::int32_t size) override {
        requireOpen();
        if (size <= 0) throw ComError(hr::InvalidArg, "bad size");
        std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), script_->body.size() - read_);
        if (read_ + n > script_->failAfterBytes) {
            n = script_->failAfterBytes > read_ ? script_->failAfterBytes - read_ : 0;
            if (n == 0) throw ComError(hr::Fail, "connection closed early");
        }
        ByteArray piece(script_->body.begin() + static_cast<std::ptrdiff_t>(read_),
                        script_->body.begin() + static_cast<std::ptrdiff_t>(read_ + n));
        read_ += n;
        return piece;
    }
    void cancel() override {
        calls.push_back("Cancel");
        open_ = false;
    }
    bool isOpen() const { return open_; }

private:
    void requireOpen() const {
        if (!open_) throw ComError(hr::Fail, "no response open");
    }
    static std::string lowered(std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }

    FakeTransferScript* script_;
    std::string url_;
    bool open_ = false;
    std::size_t read_ = 0;
    int polls_ = 0;
};

}  // namespace carvo::test
