// The control with the real transfer component against real servers on loopback: the
// scripted test server for faults, nginx for a real one. Files are compared byte for byte.

#include <gtest/gtest.h>

#include <filesystem>

#include "Bytes.h"
#include "Harness.h"
#include "HttpTestServer.h"
#include "NginxServer.h"
#include "TestCertificates.h"
#include "Tinyproxy.h"

using namespace carvo;
using namespace carvo::test;
namespace fs = std::filesystem;

namespace {

Response withBody(std::string body) {
    Response r;
    r.body = std::move(body);
    return r;
}

Response withStatus(std::string statusLine, std::string body) {
    Response r = withBody(std::move(body));
    r.statusLine = std::move(statusLine);
    return r;
}

// A control with the libcurl component, yielding to a scripted host on the real clock.
struct Live {
    ScriptedHost host;
    RecordingSite site;
    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    std::unique_ptr<DownLoad> dl;
    ScratchFolder dir;
    fs::path target = dir.path() / "download.bin";

    explicit Live(std::int32_t chunk = 1024, long stallTimeoutMs = 5000, std::string caFile = {}) {
        DownLoadEnvironment env;
        env.makeTransfer = [stallTimeoutMs, caFile](YieldFn y) {
            TransferOptions options;
            options.connectTimeoutMs = 5000;
            options.stallTimeoutMs = stallTimeoutMs;
            options.caFile = caFile;
            return makeCurlTransfer(std::move(y), options);
        };
        env.decimalPoint = '.';
        dl = std::make_unique<DownLoad>(std::move(env));
        host.useRealClock(true);
        site.host = &host;
        dl->setClientSite(&site);
        dl->initNew();
        dl->connectionPoint().advise(log);
        dl->setCHUNK(chunk);
        dl->setSaveLocation(target.string());
    }
    void fetch(const std::string& url) {
        dl->setUrl(url);
        dl->GetFileInformation();
        dl->DownLoadFile();
    }
    std::string lastCode() const { return log->last("DLECode"); }
};

}  // namespace

TEST(Network, DownloadsWholeFilesByteForByteAtAnyPieceSize) {
    HttpTestServer server;
    const std::string body = pattern(3 * 1024 * 1024 + 123);
    server.route("/pub/setup.exe", withBody(body));
    for (std::int32_t chunk : {1024, 65536, 1000000}) {
        Live live(chunk);
        live.fetch(server.url("/pub/setup.exe"));
        EXPECT_EQ(live.log->named("DLComplete").size(), 1u) << chunk;
        EXPECT_EQ(live.dl->FileSize(), static_cast<std::int32_t>(body.size()));
        EXPECT_EQ(live.dl->ResumeSupported(), VTrue);
        EXPECT_TRUE(loadBytes(live.target) == body) << chunk;
        EXPECT_EQ(live.log->last("Percent"), "Percent\t100");
    }
}

TEST(Network, FollowsARedirectAndRefusesAnErrorPage) {
    HttpTestServer server;
    Response moved = withStatus("HTTP/1.1 302 Found", "moved");
    moved.headers = {{"Location", "/new"}};
    server.route("/old", moved);
    server.route("/new", withStatus("HTTP/1.0 200 OK", "the file"));
    server.route("/broken", withStatus("HTTP/1.1 503 Service Unavailable", "<html>try later</html>"));
    Live followed;
    followed.fetch(server.url("/old"));
    EXPECT_EQ(loadBytes(followed.target), "the file");
    EXPECT_EQ(followed.dl->ResumeSupported(), VFalse);  // the final response is HTTP/1.0

    Live broken;
    storeBytes(broken.target, "installed earlier");
    broken.fetch(server.url("/broken"));
    EXPECT_EQ(broken.lastCode(), "DLECode\t1");
    EXPECT_EQ(broken.dl->FileExists(), VFalse);
    EXPECT_EQ(loadBytes(broken.target), "installed earlier");  // never replaced by the error page

    Live missing;
    missing.fetch(server.url("/nothing-here"));
    EXPECT_EQ(missing.log->named("DLECode").front(), "DLECode\t2");
    EXPECT_FALSE(fs::exists(missing.target));
}

TEST(Network, ACancelPressedWhileWaitingForTheServerEndsTheProbe) {
    HttpTestServer server;
    Response slow = withBody("x");
    slow.headerDelay = std::chrono::milliseconds(300);
    server.route("/slow", slow);
    Live live;
    live.host.onYield(3, [&] { live.dl->Cancel(); });
    live.dl->setUrl(server.url("/slow"));
    live.dl->GetFileInformation();
    EXPECT_EQ(live.lastCode(), "DLECode\t4");
    EXPECT_EQ(live.log->last("StatusChange"), "StatusChange\tCancelado.");
}

TEST(Network, ADroppedConnectionIsFinishedByAResumeIntoTheIdenticalFile) {
    const std::string body = pattern(2 * 1024 * 1024 + 7);
    HttpTestServer broken;
    Response cut = withBody(body);
    cut.dropAfter = 700000;
    broken.route("/f.bin", cut);
    Live live;
    live.fetch(broken.url("/f.bin"));
    EXPECT_EQ(live.lastCode(), "DLECode\t1");
    const std::string partial = loadBytes(live.target);
    ASSERT_GT(partial.size(), 0u);
    ASSERT_LE(partial.size(), 700000u);
    // Every byte reported before the failure is in the file, even those still in its buffer.
    EXPECT_EQ(live.log->last("RecievedBytes"), "RecievedBytes\t" + std::to_string(partial.size()));
    EXPECT_TRUE(body.compare(0, partial.size(), partial) == 0);

    HttpTestServer good;
    Response ranges = withBody(body);
    ranges.honourRange = true;
    good.route("/f.bin", ranges);
    live.log->events.clear();
    live.dl->setUrl(good.url("/f.bin"));
    live.dl->setROLLBACK(100);
    live.dl->DLResume();
    EXPECT_EQ(live.log->named("DLComplete").size(), 1u);
    EXPECT_TRUE(loadBytes(live.target) == body);
    auto requests = good.requests();
    ASSERT_EQ(requests.size(), 2u);  // the resume's own probe, then the range request
    EXPECT_EQ(requests[1].header("Range"), "bytes=" + std::to_string(partial.size() - 100) + "-");
}

TEST(Network, AStalledTransferEndsInTheErrorExitAndAResumeFinishesIt) {
    // The server goes quiet with the connection open, in the middle of the body and before its
    // header block: each ends in its error exit once the (here shortened) stall limit passes,
    // and a broken body keeps exactly the bytes that came, for the resume.
    const std::string body = pattern(1024 * 1024 + 5);
    const std::size_t stallsAt = 75 * 4096;  // whole pieces: a piece cut short is not kept
    HttpTestServer server;
    server.route("/f.bin", [&](const Request&) {
        Response r = withBody(body);
        r.honourRange = true;
        if (server.requestCount() == 1) r.stallAfter = stallsAt;
        return r;
    });
    Response silent;
    silent.neverRespond = true;
    server.route("/silent", silent);

    Live live(4096, 300);
    live.fetch(server.url("/f.bin"));
    const auto& ev = live.log->events;
    ASSERT_GE(ev.size(), 3u);
    EXPECT_EQ(
        std::vector<std::string>(ev.end() - 3, ev.end()),
        (std::vector<std::string>{"DLError\tErro ao puxar arquivo de: " + server.url("/f.bin"),
                                  "StatusChange\tErro ao puxar o arquivo!", "DLECode\t1"}));
    EXPECT_EQ(live.log->last("RecievedBytes"), "RecievedBytes\t" + std::to_string(stallsAt));
    EXPECT_TRUE(loadBytes(live.target) == body.substr(0, stallsAt));

    live.dl->DLResume();
    EXPECT_EQ(live.log->last("StatusChange"), "StatusChange\tDownload Terminado!");
    EXPECT_TRUE(loadBytes(live.target) == body);
    EXPECT_EQ(server.requests().back().header("Range"), "bytes=" + std::to_string(stallsAt) + "-");

    live.log->events.clear();
    live.dl->setUrl(server.url("/silent"));
    live.dl->GetFileInformation();
    EXPECT_EQ(live.log->named("DLError"),
              std::vector<std::string>{"DLError\tErro ao Ler Cabeçalho do Arquivo."});
    EXPECT_EQ(live.lastCode(), "DLECode\t1");
}

TEST(Network, AResumeContinuesOnlyTheVersionOfTheFileItBroke) {
    // Between the break and the resume the server's file may be rebuilt with the same length.
    // Its rest must never join the old beginning: the range is asked of the broken version only
    // (If-Range with a strong validator), and without a strong validator the resume is refused
    // and the host starts over, which gives the new build whole.
    const std::string before = pattern(300000);
    std::string after = before;
    after[250000] = 'X';
    using Headers = std::vector<std::pair<std::string, std::string>>;
    struct Row {
        Headers first, second;  // the validators of the broken transfer, and of the server now
        bool resumes;
    };
    const Row rows[] = {
        {{{"ETag", "\"a\""}}, {{"ETag", "\"a\""}}, true},
        {{{"ETag", "\"a\""}}, {{"ETag", "\"b\""}}, false},
        {{{"ETag", "W/\"a\""}}, {{"ETag", "W/\"a\""}}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.first.front().second);
        HttpTestServer server;
        server.route("/f.bin", [&](const Request&) {
            const bool first = server.requestCount() == 1;  // the transfer that breaks
            // The same bytes when the server says it is the same file, another build otherwise.
            Response r = withBody(first || row.resumes ? before : after);
            r.headers = first ? row.first : row.second;
            r.honourRange = true;
            r.bodyETag = false;
            if (first) r.dropAfter = 100000;
            return r;
        });
        Live live;
        live.fetch(server.url("/f.bin"));
        ASSERT_EQ(live.lastCode(), "DLECode\t1");
        const std::string partial = loadBytes(live.target);
        live.dl->DLResume();
        if (row.resumes) {
            EXPECT_TRUE(loadBytes(live.target) == before);
            EXPECT_EQ(server.requests().back().header("If-Range"), row.first.front().second);
            continue;
        }
        EXPECT_EQ(live.log->last("StatusChange"), "StatusChange\tResume Falhou.");
        EXPECT_EQ(loadBytes(live.target), partial);
        for (const auto& request : server.requests()) EXPECT_EQ(request.header("Range"), "");
        live.fetch(server.url("/f.bin"));  // the host starts over
        EXPECT_TRUE(loadBytes(live.target) == after);
    }
}

TEST(Network, NginxNeverSplicesARebuildThatKeptItsSecond) {
    // nginx makes its ETag from the file's time and size, so a rebuild of the same length within
    // the same second keeps both validators. Such a time counts only when the answer's Date is a
    // second later; the file's time is set ahead here so that the test does not race the clock.
    // A file changed long before still resumes as it always did.
    if (!NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    const std::string before = pattern(4 * 1024 * 1024);
    std::string after = before;
    after[3 * 1024 * 1024] = 'X';
    for (const bool rebuilt : {false, true}) {
        SCOPED_TRACE(rebuilt ? "rebuilt in its second" : "unchanged");
        ScratchFolder root;
        const fs::path file = root / "pacote.zip";
        storeBytes(file, before);
        NginxOptions options;
        options.root = root.path();
        NginxServer nginx(options);
        const auto when = rebuilt ? fs::file_time_type::clock::now() + std::chrono::hours(1)
                                  : fs::last_write_time(file);
        fs::last_write_time(file, when);

        Live live;
        live.log->onEach = [&](const std::string& e) {
            if (e == "RecievedBytes\t102400") live.dl->Cancel();
        };
        live.fetch(nginx.url("/pacote.zip"));
        ASSERT_EQ(live.lastCode(), "DLECode\t4");
        const std::string partial = loadBytes(live.target);
        ASSERT_EQ(partial, before.substr(0, 102400));
        if (rebuilt) {
            storeBytes(file, after);
            fs::last_write_time(file, when);
        }
        live.log->onEach = nullptr;
        live.dl->DLResume();
        if (!rebuilt) {
            EXPECT_EQ(live.log->last("StatusChange"), "StatusChange\tDownload Terminado!");
            EXPECT_TRUE(loadBytes(live.target) == before);
            continue;
        }
        EXPECT_EQ(live.log->last("StatusChange"), "StatusChange\tResume Falhou.");
        EXPECT_EQ(loadBytes(live.target), partial);
        live.fetch(nginx.url("/pacote.zip"));
        EXPECT_TRUE(loadBytes(live.target) == after) << nginx.errorLog();
    }
}

TEST(Network, ServersThatRefuseTheRangeLeaveThePartialFileUntouched) {
    const std::string body = pattern(100000);
    HttpTestServer server;
    server.route("/ignores", withBody(body));
    Response ranges = withBody(body);
    ranges.honourRange = true;
    server.route("/ranges", ranges);
    for (const char* path : {"/ignores", "/ranges"}) {
        Live live;
        storeBytes(live.target, body.substr(0, 5000));
        live.dl->setUrl(server.url(path));
        live.dl->GetFileInformation();
        if (std::string(path) == "/ranges") live.dl->setROLLBACK(-200000);  // beyond the end: 416
        live.dl->DLResume();
        EXPECT_EQ(live.log->last("StatusChange"), "StatusChange\tResume Falhou.") << path;
        EXPECT_EQ(loadBytes(live.target), body.substr(0, 5000)) << path;
    }
}

TEST(Network, NginxCompletesAFileThatAnotherServerBroke) {
    if (!NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    const std::string body = pattern(3 * 1024 * 1024);
    ScratchFolder root;
    storeBytes(root.path() / "pacote.zip", body);
    NginxOptions options;
    options.root = root.path();
    NginxServer nginx(options);

    HttpTestServer broken;
    Response cut = withBody(body);
    cut.dropAfter = 1234567;
    broken.route("/pacote.zip", cut);
    Live live(65536);
    live.fetch(broken.url("/pacote.zip"));
    ASSERT_EQ(live.lastCode(), "DLECode\t1");

    live.dl->setUrl(nginx.url("/pacote.zip"));
    live.dl->DLResume();
    EXPECT_EQ(live.log->named("DLComplete").size(), 1u) << nginx.errorLog();
    EXPECT_TRUE(loadBytes(live.target) == body);

    Live direct(65536);
    direct.fetch(nginx.url("/pacote.zip"));
    EXPECT_TRUE(loadBytes(direct.target) == body);
}

TEST(Network, ARangeAnswerCutOffBeforeItsEndNeverCompletesAFile) {
    // Over a real connection: the bytes that came are kept for the next resume, and no more.
    // (Range answers that would not fit the file are refused in ResumeTest.)
    const std::string body = pattern(10000);
    Response cut = withStatus("HTTP/1.1 206 Partial Content", body.substr(5000));
    cut.headers = {{"Content-Range", "bytes 5000-9999/10000"}, {"ETag", "\"f\""}};
    cut.dropAfter = 100;
    Response whole = withBody(body);
    whole.headers = {{"ETag", "\"f\""}};
    HttpTestServer server;
    server.route("/f.bin",
                 [&](const Request& req) { return req.header("Range").empty() ? whole : cut; });
    Live live;
    storeBytes(live.target, body.substr(0, 5000));
    live.dl->setUrl(server.url("/f.bin"));
    live.dl->GetFileInformation();
    live.dl->DLResume();
    EXPECT_TRUE(live.log->named("DLComplete").empty());
    EXPECT_EQ(live.lastCode(), "DLECode\t1");
    const std::string kept = loadBytes(live.target);
    EXPECT_EQ(kept, body.substr(0, kept.size()));
}

TEST(Network, ConflictingLengthsFailTheProbe) {
    HttpTestServer server;
    Response twoLengths = withBody(pattern(20)), chunkedToo = twoLengths;
    twoLengths.headers = {{"Content-Length", "10"}, {"Content-Length", "20"}};
    chunkedToo.chunked = true;
    chunkedToo.headers = {{"Content-Length", "10"}};
    Response part = withStatus("HTTP/1.1 206 Partial Content", pattern(10));
    part.headers = {{"Content-Range", "bytes 0-9/20"}};  // a piece of the file, passed off as all of it
    server.route("/two", twoLengths);
    server.route("/chunked", chunkedToo);
    server.route("/part", part);
    for (const char* path : {"/two", "/chunked", "/part"}) {
        Live live;
        live.fetch(server.url(path));
        EXPECT_EQ(live.log->named("DLECode").front(), "DLECode\t1") << path;
        EXPECT_EQ(live.dl->FileExists(), VFalse);
        EXPECT_EQ(live.dl->FileSize(), 0);
        EXPECT_FALSE(fs::exists(live.target)) << path;
    }
}

TEST(Network, ACancelActsAtOnceWhileTheServerTrickles) {
    HttpTestServer server;
    Response trickle = withBody(pattern(1000));
    trickle.trickle = std::chrono::seconds(30);  // one byte, then thirty seconds of nothing
    server.route("/slow.bin", trickle);
    Live live;
    live.dl->setUrl(server.url("/slow.bin"));
    live.dl->GetFileInformation();
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Clock::time_point pressed{};
    live.host.everyYield([&] {
        if (pressed == Clock::time_point{} && Clock::now() - start > std::chrono::milliseconds(300)) {
            pressed = Clock::now();
            live.dl->Cancel();
        }
    });
    live.dl->DownLoadFile();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed);
    RecordProperty("CancelMilliseconds", static_cast<int>(took.count()));
    EXPECT_LT(took, std::chrono::seconds(1)) << "the cancel took " << took.count() << " ms";
    EXPECT_EQ(live.lastCode(), "DLECode\t4");
    EXPECT_EQ(loadBytes(live.target), pattern(1000).substr(0, 1));  // the byte that came
}

TEST(Network, DownloadsThroughAProxyAndNamesTheProxyWhenItRefuses) {
    // tinyproxy on loopback, set as a user sets it. A wrong password for http is answered with
    // 401 by tinyproxy itself, which must not pass for the server's own 401.
    if (!Tinyproxy::available()) GTEST_SKIP() << "tinyproxy is not installed";
    if (!NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    ScratchFolder dir;
    const std::string body = pattern(3 * 1024 * 1024 + 1);
    const TestCertificates certs = makeTestCertificates(dir / "certs");
    fs::create_directories(dir / "www");
    storeBytes(dir / "www" / "setup.exe", body);
    NginxServer https(NginxOptions{dir / "www", true, certs.certFile, certs.keyFile});
    HttpTestServer http;
    http.route("/setup.exe", withBody(body));
    Response locked = withStatus("HTTP/1.1 401 Unauthorized", "");
    locked.headers = {{"WWW-Authenticate", "Basic realm=\"downloads\""}};
    http.route("/locked.exe", locked);
    Tinyproxy open, guarded("user pass");

    struct Row {
        bool tls;
        const Tinyproxy& proxy;
        std::string userinfo, code;  // code: "" for a whole download
        const char* path = "/setup.exe";
        const char* noProxy = "";
    };
    const Row rows[] = {
        {false, open, "", ""},  // plain http, and https through CONNECT
        {true, open, "", ""},
        {false, guarded, "user:pass", ""},
        {true, guarded, "user:pass", ""},
        {false, guarded, "", "407"},
        {false, guarded, "user:wrong", "407"},
        {true, guarded, "user:wrong", "407"},
        {false, guarded, "user:pass", "401", "/locked.exe"},  // the server's own refusal
        {false, guarded, "user:wrong", "", "/setup.exe", "127.0.0.1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << row.tls << " " << row.userinfo << " " << row.path << " " << row.noProxy);
        const ProxyEnvironment environment({{"http_proxy", row.proxy.address(row.userinfo)},
                                            {"https_proxy", row.proxy.address(row.userinfo)},
                                            {"no_proxy", row.noProxy}});
        const std::size_t logBefore = row.proxy.log().size();
        Live live(65536, 5000, certs.caFile);
        live.fetch(row.tls ? https.url(row.path) : http.url(row.path));
        const auto& ev = live.log->events;
        if (row.code.empty()) {
            EXPECT_EQ(live.log->last("StatusChange"), "StatusChange\tDownload Concluído!");
            EXPECT_TRUE(loadBytes(live.target) == body);
        } else if (row.code == "407") {
            const auto refused = std::find(ev.begin(), ev.end(), "DLECode\t407");
            ASSERT_TRUE(refused != ev.end() && refused != ev.begin() && refused + 1 != ev.end())
                << testing::PrintToString(ev);
            EXPECT_EQ(*(refused - 1),
                      "StatusChange\tAcesso Não Autorizado Pelo Proxy, Download Interrompido!");
            EXPECT_EQ(*(refused + 1), "DLError\tAcesso Não Autorizado Pelo Proxy!");
        } else {
            EXPECT_EQ(live.log->named("DLECode").front(), "DLECode\t401");
        }
        // The way it went: through the proxy (which names itself to the server, and writes
        // down each tunnel), or straight to the server when no_proxy says so.
        const std::string via = http.requestCount() ? http.requests().back().header("Via") : "";
        const std::string tunnel = "CONNECT 127.0.0.1:" + std::to_string(https.port());
        if (*row.noProxy) {
            EXPECT_EQ(via, "");
        } else if (row.tls) {
            EXPECT_NE(row.proxy.log().find(tunnel, logBefore), std::string::npos);
        } else if (row.code != "407") {
            EXPECT_NE(via.find("tinyproxy"), std::string::npos);
        }
    }
}
