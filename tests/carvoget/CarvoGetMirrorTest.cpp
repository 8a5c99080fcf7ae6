// carvo-get with several addresses of one file and a check of the finished file: the address it
// ends on, what it passed over and why, and what stays of the user's own file.

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "HttpTestServer.h"
#include "NginxServer.h"

namespace carvo::test {
namespace {

namespace fs = std::filesystem;

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
    return s;
}

std::string sha256Hex(const std::string& bytes) {
    std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size());
    std::array<char, 2 * crypto_hash_sha256_BYTES + 1> hex{};
    sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
    return hex.data();
}

Response answer(std::string body, std::string statusLine = "HTTP/1.1 200 OK") {
    Response r;
    r.body = std::move(body);
    r.statusLine = std::move(statusLine);
    return r;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class CarvoGetMirrors : public ::testing::Test {
  protected:
    ProcessResult run(std::vector<std::string> args) {
        args.insert(args.begin(), CARVO_GET_PATH);
        ProcessOptions options;
        options.workDir = dir_.path();
        return runProcess(args, options);
    }
    fs::path at(const std::string& name) const { return dir_ / name; }
    // What the folder holds: a staged file left behind would show here.
    std::vector<std::string> folder() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_.path()))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchFolder dir_{"carvo-get-mirrors"};
    HttpTestServer server_;
};

// A busy server, then nginx with a copy whose last byte differs, then nginx with the file: the
// user's old copy is replaced by the good one, and both others are named as passed over.
TEST_F(CarvoGetMirrors, PassesOverABusyServerAndACopyOneByteOff) {
    if (!NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    const std::string body = pattern(200000);
    std::string bad = body;
    bad.back() = static_cast<char>(bad.back() ^ 1);
    server_.route("/busy/f.bin", answer("busy", "HTTP/1.1 503 Service Unavailable"));
    ScratchFolder served("carvo-get-mirrors-nginx");
    fs::create_directories(served / "bad");
    fs::create_directories(served / "good");
    storeBytes(served / "bad/f.bin", bad);
    storeBytes(served / "good/f.bin", body);
    NginxServer nginx({served.path()});
    storeBytes(at("f.bin"), "the user's old copy");

    const std::string urls[] = {server_.url("/busy/f.bin"), nginx.url("/bad/f.bin"),
                                nginx.url("/good/f.bin")};
    ProcessResult r = run(
        {"--sha256", sha256Hex(body), "--mirror", urls[1], "--mirror", urls[2], urls[0], "f.bin"});
    ASSERT_EQ(r.exitStatus, 0) << r.err << nginx.errorLog();
    EXPECT_TRUE(loadBytes(at("f.bin")) == body) << "the saved file differs from the original";
    for (const std::string& said : std::vector<std::string>{
             "carvo-get: server 1 of 3: " + urls[0] + "\n",
             "carvo-get: passing over server 1 of 3: DLECode 1: Erro ao Ler Cabeçalho do "
             "Arquivo.\n",
             "carvo-get: server 2 of 3: " + urls[1] + "\n",
             "carvo-get: passing over server 2 of 3: the file's SHA-256 is " + sha256Hex(bad),
             "carvo-get: server 3 of 3: " + urls[2] + "\n",
             std::string("carvo-get: f.bin checks out against --sha256\n")})
        EXPECT_TRUE(contains(r.err, said)) << said << "\n---\n" << r.err;
    EXPECT_EQ(folder(), std::vector<std::string>{"f.bin"});
}

// The first address fails; the second serves the file. After a transfer that broke, the next
// address continues the partial file with a range only when a hash will judge the result, and a
// joined file that fails it is fetched again from the start.
TEST_F(CarvoGetMirrors, AFailedFirstAddressFallsBackToTheNext) {
    const std::string body = pattern(300000);
    std::string firstByteOff = body;
    firstByteOff.front() = static_cast<char>(firstByteOff.front() ^ 1);
    std::atomic<int> cutRequests{0};
    std::atomic<bool> cutServesOtherBytes{false};
    server_.route("/cut/f.bin", [&](const Request&) {
        // The first answer breaks after 100000 bytes; the server is busy after that.
        if (cutRequests++ > 0) return answer("busy", "HTTP/1.1 503 Service Unavailable");
        Response r = answer(cutServesOtherBytes ? firstByteOff : body);
        r.dropAfter = 100000;
        return r;
    });
    Response ranged = answer(body);
    ranged.honourRange = true;
    server_.route("/good/f.bin", ranged);

    struct Case {
        const char* name;
        std::string first;
        bool hash, otherBytes;
        bool rangeAsked, endsWithWholeFile;
    };
    for (const Case& c : {
             Case{"refused connection", "http://127.0.0.1:1/f.bin", true, false, false, true},
             Case{"not found", server_.url("/none/f.bin"), true, false, false, true},
             Case{"broken transfer, hash", server_.url("/cut/f.bin"), true, false, true, false},
             Case{"broken transfer, no hash", server_.url("/cut/f.bin"), false, false, false, true},
             Case{"broken transfer of other bytes, hash", server_.url("/cut/f.bin"), true, true,
                  true, true},
         }) {
        SCOPED_TRACE(c.name);
        cutRequests = 0;
        cutServesOtherBytes = c.otherBytes;
        fs::remove(at("f.bin"));
        const std::size_t before = server_.requestCount();
        std::vector<std::string> args{"--mirror", server_.url("/good/f.bin"), c.first, "f.bin"};
        if (c.hash) args.insert(args.begin(), {"--sha256", sha256Hex(body)});
        ProcessResult r = run(args);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_TRUE(loadBytes(at("f.bin")) == body) << "the saved file differs from the original";
        EXPECT_TRUE(contains(r.err, "passing over server 1 of 2: ")) << r.err;
        EXPECT_EQ(contains(r.err, "starting over from this server"), c.otherBytes) << r.err;
        EXPECT_EQ(folder(), std::vector<std::string>{"f.bin"});

        // What the second address was asked: a range from the partial file's length, and the
        // whole file (a probe that is read as the download) when it ends from the start.
        std::vector<std::string> ranges;
        const std::vector<Request> requests = server_.requests();
        for (std::size_t i = before; i < requests.size(); ++i)
            if (requests[i].target == "/good/f.bin") ranges.push_back(requests[i].header("Range"));
        ASSERT_FALSE(ranges.empty());
        const auto asked = std::find_if(ranges.begin(), ranges.end(),
                                        [](const std::string& h) { return !h.empty(); });
        EXPECT_EQ(asked != ranges.end(), c.rangeAsked);
        if (asked != ranges.end()) {
            ASSERT_EQ(asked->rfind("bytes=", 0), 0u) << *asked;
            const long offset = std::stol(asked->substr(6));
            EXPECT_GT(offset, 0);
            EXPECT_LE(offset, 100000);
        }
        EXPECT_EQ(ranges.back().empty(), c.endsWithWholeFile);
    }
}

// A file that fails its check is an error exit that leaves the user's file as it was and
// nothing else behind; one byte too many is refused before any of the body is saved.
TEST_F(CarvoGetMirrors, AFileThatFailsItsCheckLeavesTheTargetAsItWas) {
    const std::string body = pattern(50000);
    std::string lastByteOff = body;
    lastByteOff.back() = static_cast<char>(lastByteOff.back() ^ 0x80);
    server_.route("/off.bin", answer(lastByteOff));
    server_.route("/long.bin", answer(body + "x"));

    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool userFile;
        std::string says;
        bool bodyRead;
    };
    for (const Case& c : {
             Case{"hash, existing file",
                  {"--sha256", sha256Hex(body), server_.url("/off.bin")},
                  true,
                  "the file's SHA-256 is " + sha256Hex(lastByteOff),
                  true},
             Case{"hash, no file",
                  {"--sha256", sha256Hex(body), server_.url("/off.bin")},
                  false,
                  "nothing was saved at f.bin",
                  true},
             Case{"one byte past --size",
                  {"--size", "50000", server_.url("/long.bin")},
                  true,
                  "the server announces 50001 bytes, not the 50000 that --size gives",
                  false},
         }) {
        SCOPED_TRACE(c.name);
        fs::remove(at("f.bin"));
        if (c.userFile) storeBytes(at("f.bin"), "the user's own file");
        std::vector<std::string> args = c.args;
        args.push_back("f.bin");
        ProcessResult r = run(args);
        EXPECT_EQ(r.exitStatus, 1) << r.err;
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
        EXPECT_EQ(contains(r.err, "Puxando Arquivos..."), c.bodyRead) << r.err;
        if (c.userFile) {
            EXPECT_EQ(loadBytes(at("f.bin")), "the user's own file");
            EXPECT_TRUE(contains(r.err, "carvo-get: f.bin is left as it was\n")) << r.err;
            EXPECT_EQ(folder(), std::vector<std::string>{"f.bin"});
        } else {
            EXPECT_EQ(folder(), std::vector<std::string>{});
        }
    }
}

}  // namespace
}  // namespace carvo::test
