// carvo-get run as a program against the loopback test server and nginx: what it prints, what
// it saves, and how it ends.

#include <gtest/gtest.h>
#include <signal.h>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
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

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// A response with this body; fields set by the caller after.
Response answer(std::string body, std::string statusLine = "HTTP/1.1 200 OK") {
    Response r;
    r.body = std::move(body);
    r.statusLine = std::move(statusLine);
    return r;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string sha256Hex(const std::string& bytes) {
    std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size());
    std::array<char, 2 * crypto_hash_sha256_BYTES + 1> hex{};
    sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
    return hex.data();
}

class CarvoGet : public ::testing::Test {
  protected:
    ProcessResult run(std::vector<std::string> args, ProcessOptions options = {}) {
        args.insert(args.begin(), CARVO_GET_PATH);
        if (!options.workDir) options.workDir = dir_.path();
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

    ScratchFolder dir_{"carvo-get-test"};
    HttpTestServer server_;
};

TEST_F(CarvoGet, TraceShowsEveryEventOfASuccessfulDownloadAndTheFileIsExact) {
    const std::string body = pattern(3000);
    server_.route("/pub/f.bin", answer(body));
    // No save location: the control's FileName, in the current folder.
    ProcessResult r = run({"--trace", "--chunk", "1024", server_.url("/pub/f.bin")});
    ASSERT_EQ(r.exitStatus, 0) << r.err << r.out;
    EXPECT_EQ(loadBytes(at("f.bin")), body);

    // Rate and TimeLeft depend on the clock; everything else is exact.
    const std::regex rate("Rate\t(|[0-9]+ Bytes/s|[0-9]+([.,][0-9]+)? Kb/s)");
    const std::regex timeLeft("TimeLeft\t([0-9]+ seg|[0-9]+ min [0-9]+ seg)");
    std::vector<std::string> got = lines(r.out);
    std::vector<std::string> expected = {
        "StatusChange\tIniciando Conexão...",
        "StatusChange\tConexão Aceita, Recebendo Informações.",
        "StatusChange\tInformações Recebidas!",
        "StatusChange\tPuxando Arquivos...",
    };
    for (auto [bytes, percent] : {std::pair{1024, 34}, {2048, 68}, {3000, 100}, {3000, 100}}) {
        expected.insert(
            expected.end(),
            {"Rate", "TimeLeft", "RecievedBytes\t" + std::to_string(bytes),
             "Percent\t" + std::to_string(percent), "StatusChange\tPuxando Arquivos..."});
    }
    expected.insert(expected.end(), {"DLComplete", "StatusChange\tDownload Concluído!"});
    ASSERT_EQ(got.size(), expected.size()) << r.out;
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (expected[i] == "Rate")
            EXPECT_TRUE(std::regex_match(got[i], rate)) << got[i];
        else if (expected[i] == "TimeLeft")
            EXPECT_TRUE(std::regex_match(got[i], timeLeft)) << got[i];
        else
            EXPECT_EQ(got[i], expected[i]) << "line " << i;
    }
    // The last pass has nothing left to wait for.
    EXPECT_EQ(got[got.size() - 6], "TimeLeft\t0 seg");
    EXPECT_EQ(r.err, "");
}

TEST_F(CarvoGet, NotFoundEndsWithItsCodeAndTextAndNoFile) {
    server_.route("/gone.bin", answer("nope", "HTTP/1.1 404 Not Found"));
    ProcessResult r = run({"--trace", server_.url("/gone.bin")});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.err, "DLECode 2: Arquivo Não Encontrado!")) << r.err;
    EXPECT_TRUE(contains(r.out,
                         "DLError\tArquivo Não Encontrado!\n"
                         "StatusChange\tArquivo Não Encontrado!\nDLECode\t2\n"))
        << r.out;
    EXPECT_FALSE(contains(r.out, "Puxando")) << "DownLoad ran after a refused probe";
    EXPECT_FALSE(fs::exists(at("gone.bin")));
    EXPECT_FALSE(contains(r.err, "--resume")) << "nothing to resume";

    // Without --trace, on a pipe: the status sentences and the same failure.
    ProcessResult quiet = run({server_.url("/gone.bin")});
    EXPECT_EQ(quiet.exitStatus, 1);
    EXPECT_EQ(quiet.out, "");
    EXPECT_TRUE(contains(quiet.err, "Iniciando Conexão...\n")) << quiet.err;
    EXPECT_TRUE(contains(quiet.err, "DLECode 2: Arquivo Não Encontrado!")) << quiet.err;
}

TEST_F(CarvoGet, InfoProbesOnlyAndPrintsTheFourProperties) {
    server_.route("/v11", answer(pattern(12345)));
    server_.route("/v10", answer("abc", "HTTP/1.0 200 OK"));
    Response noLength = answer("abc");
    noLength.contentLength = false;
    server_.route("/nolength", noLength);

    ProcessResult r = run({"--info", server_.url("/v11"), "x.bin"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out,
              "FileSize\t12345\nFileExists\tTrue\nResumeSupported\tTrue\nConnected\tFalse\n");
    EXPECT_FALSE(fs::exists(at("x.bin")));

    r = run({"--info", server_.url("/v10"), "x.bin"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "FileSize\t3\nFileExists\tTrue\nResumeSupported\tFalse\nConnected\tFalse\n");

    // No Content-Length: the probe's error exit, code 1, and the fields as far as it got.
    r = run({"--info", server_.url("/nolength"), "x.bin"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.out, "FileExists\tTrue\n")) << r.out;
    EXPECT_TRUE(contains(r.err, "DLECode 1: Erro ao Ler Cabeçalho do Arquivo.")) << r.err;
}

TEST_F(CarvoGet, KeepTypeRenamesAndAUrlWithoutFileNameNeedsASaveLocation) {
    server_.route("/pkg/setup.exe", answer("MZ-program"));
    ProcessResult r = run({"--keep-type", server_.url("/pkg/setup.exe"), "pacote.tmp"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(loadBytes(at("pacote.exe")), "MZ-program");
    EXPECT_FALSE(fs::exists(at("pacote.tmp")));

    const std::size_t before = server_.requestCount();
    r = run({server_.url("/pkg/")});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_TRUE(contains(r.err, "SAVE_LOCATION")) << r.err;
    EXPECT_EQ(server_.requestCount(), before) << "nothing should be fetched";
}

TEST_F(CarvoGet, WithNobodyToAskAnExistingFileIsKept) {
    server_.route("/f.bin", answer("new contents"));
    storeBytes(at("f.bin"), "the user's own file");
    // Standard input is a pipe here, not a terminal: the control cannot ask.
    ProcessResult r = run({"--prompt-overwrite", server_.url("/f.bin")});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(loadBytes(at("f.bin")), "the user's own file");
    EXPECT_TRUE(contains(r.err, "DLECode 1")) << r.err;
    EXPECT_TRUE(contains(r.err, "f.bin")) << r.err;

    // Without --prompt-overwrite the file is replaced, and cut to the new length.
    r = run({server_.url("/f.bin")});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(loadBytes(at("f.bin")), "new contents");
}

TEST_F(CarvoGet, BadOptionsAreUsageErrorsAndHelpIsNot) {
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{},
                                               {"--chunk", "0", "u"},
                                               {"--frobnicate", "u"},
                                               {"a", "b", "c"},
                                               {"--rollback", "3", "u"},
                                               {"--chunk"}}) {
        ProcessResult r = run(args);
        EXPECT_EQ(r.exitStatus, 2) << r.err;
        EXPECT_TRUE(contains(r.err, "usage: carvo-get [options] URL [SAVE_LOCATION]")) << r.err;
        EXPECT_EQ(r.out, "");
    }
    ProcessResult help = run({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_TRUE(contains(help.out, "--resume")) << help.out;
    EXPECT_EQ(help.err, "");
}

// A body cut by the server: carvo-get keeps the partial file and says how to resume; the
// resume against nginx, with a damaged tail fetched again through --rollback, gives the file.
TEST_F(CarvoGet, BrokenDownloadIsFinishedByResumeAgainstNginx) {
    if (!NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    const std::string body = pattern(300000);
    Response cut = answer(body);
    cut.dropAfter = 100000;
    server_.route("/f.bin", cut);
    ProcessResult broken = run({"--chunk", "4096", server_.url("/f.bin"), "part.bin"});
    EXPECT_EQ(broken.exitStatus, 1);
    EXPECT_TRUE(
        contains(broken.err, "DLECode 1: Erro ao puxar arquivo de: " + server_.url("/f.bin")))
        << broken.err;
    EXPECT_TRUE(contains(broken.err, "carvo-get --resume --chunk 4096 -- " + server_.url("/f.bin") +
                                         " " + at("part.bin").string()))
        << broken.err;
    std::string partial = loadBytes(at("part.bin"));
    ASSERT_GT(partial.size(), 0u);
    ASSERT_LE(partial.size(), 100000u);
    EXPECT_EQ(partial, body.substr(0, partial.size()));

    // Damage the last bytes; --rollback 10 fetches them again.
    partial.replace(partial.size() - 10, 10, std::string(10, '\x55'));
    storeBytes(at("part.bin"), partial);

    ScratchFolder served("carvo-get-nginx");
    storeBytes(served / "f.bin", body);
    NginxServer nginx({served.path()});
    ProcessResult resumed =
        run({"--trace", "--resume", "--rollback", "10", nginx.url("/f.bin"), "part.bin"});
    EXPECT_EQ(resumed.exitStatus, 0) << resumed.err << nginx.errorLog();
    EXPECT_TRUE(contains(resumed.out, "StatusChange\tResumindo part.bin.\n")) << resumed.out;
    EXPECT_TRUE(contains(resumed.out, "RecievedBytes\t300000\nPercent\t100\n")) << resumed.out;
    EXPECT_TRUE(contains(resumed.out, "DLComplete\nStatusChange\tDownload Terminado!\n"));
    EXPECT_TRUE(loadBytes(at("part.bin")) == body) << "resumed file differs from the original";
}

// Ctrl-C during a transfer cancels it; the command carvo-get prints then finishes the file.
TEST_F(CarvoGet, InterruptCancelsAndThePrintedCommandResumes) {
    const std::string body = pattern(2 * 1024 * 1024);
    std::atomic<int> plainRequests{0};
    server_.route("/big.bin", [&](const Request& req) {
        Response r = answer(body);
        r.honourRange = true;
        // The first download crawls, so there is time to interrupt it.
        if (req.header("Range").empty() && plainRequests++ == 0) r.bytesPerSecond = 128 * 1024;
        return r;
    });

    std::atomic<pid_t> child{0};
    ProcessResult cancelled;
    std::thread runner([&] {
        ProcessOptions options;
        options.started = [&](pid_t pid) { child = pid; };
        cancelled = run({"--chunk", "8192", server_.url("/big.bin"), "big.bin"}, options);
    });
    // Interrupt once the transfer loop has opened the file.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(child != 0 && fs::exists(at("big.bin"))) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_NE(child.load(), 0);
    ::kill(child, SIGINT);
    runner.join();

    EXPECT_EQ(cancelled.exitStatus, 1) << cancelled.err;
    EXPECT_TRUE(contains(cancelled.err, "DLECode 4: Cancelado.")) << cancelled.err;
    const std::string marker = "to resume it:\n  ";
    const auto at_ = cancelled.err.find(marker);
    ASSERT_NE(at_, std::string::npos) << cancelled.err;
    std::string command = lines(cancelled.err.substr(at_ + marker.size())).at(0);
    ASSERT_EQ(command.rfind("carvo-get ", 0), 0u) << command;
    EXPECT_LT(fs::file_size(at("big.bin")), body.size());

    command.replace(0, std::string("carvo-get").size(), CARVO_GET_PATH);
    ProcessOptions elsewhere;
    elsewhere.workDir = fs::path("/");
    ProcessResult resumed = runProcess({"/bin/sh", "-c", command}, elsewhere);
    EXPECT_EQ(resumed.exitStatus, 0) << resumed.err;
    EXPECT_TRUE(loadBytes(at("big.bin")) == body) << "resumed file differs from the original";
    const std::vector<Request> requests = server_.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().header("Range").rfind("bytes=", 0), 0u);
}

// Starts carvo-get on its own thread and, once the transfer loop has created the file (and
// `settle` more has passed), sends it the signal.
ProcessResult runAndSignal(const std::function<ProcessResult(ProcessOptions)>& start,
                           const fs::path& file, std::chrono::milliseconds settle, int signal,
                           std::chrono::steady_clock::time_point* signalled = nullptr) {
    std::atomic<pid_t> child{0};
    ProcessResult result;
    std::thread runner([&] {
        ProcessOptions options;
        options.started = [&](pid_t pid) { child = pid; };
        result = start(options);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(child != 0 && fs::exists(file)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(settle);
    if (signalled) *signalled = std::chrono::steady_clock::now();
    if (child != 0) ::kill(child, signal);
    runner.join();
    return result;
}

// SIGTERM (like a second Ctrl-C) ends carvo-get by that signal, with every byte it reported in
// the file (they sat in the control's buffer before).
TEST_F(CarvoGet, AQuitKeepsEveryByteAlreadyReported) {
    const std::string body = pattern(4 * 1024 * 1024);
    Response slow = answer(body);
    slow.bytesPerSecond = 64 * 1024;
    server_.route("/slow.bin", slow);
    ProcessResult quit = runAndSignal(
        [&](ProcessOptions o) {
            return run({"--trace", server_.url("/slow.bin"), "slow.bin"}, o);
        },
        at("slow.bin"), std::chrono::milliseconds(400), SIGTERM);
    EXPECT_EQ(quit.exitStatus, 128 + SIGTERM) << quit.err;
    std::smatch m;
    std::string reported = "0";
    for (const std::string& line : lines(quit.out))
        if (std::regex_match(line, m, std::regex("RecievedBytes\t([0-9]+)"))) reported = m[1];
    const std::string kept = loadBytes(at("slow.bin"));
    EXPECT_GT(kept.size(), 0u);
    EXPECT_EQ(std::to_string(kept.size()), reported);
    EXPECT_TRUE(kept == body.substr(0, kept.size()));
}

// Through carvo-get as through the control: Ctrl-C acts at once against a server sending one
// byte every thirty seconds. (A FIFO at the target is the control's to refuse: TransferTest.)
TEST_F(CarvoGet, CancelsATricklingServerAtOnce) {
    Response trickle = answer(pattern(1000));
    trickle.trickle = std::chrono::seconds(30);
    server_.route("/trickle.bin", trickle);
    std::chrono::steady_clock::time_point signalled;
    ProcessResult cancelled = runAndSignal(
        [&](ProcessOptions o) {
            return run({server_.url("/trickle.bin"), "trickle.bin"}, o);
        },
        at("trickle.bin"), std::chrono::milliseconds(200), SIGINT, &signalled);
    const auto took = std::chrono::steady_clock::now() - signalled;
    EXPECT_LT(took, std::chrono::seconds(1));
    EXPECT_EQ(cancelled.exitStatus, 1) << cancelled.err;
    EXPECT_TRUE(contains(cancelled.err, "DLECode 4: Cancelado.")) << cancelled.err;
}

// A busy server, then nginx with a copy whose last byte differs, then nginx with the file: the
// user's old copy is replaced by the good one, and both others are named as passed over.
TEST_F(CarvoGet, PassesOverABusyServerAndACopyOneByteOff) {
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
TEST_F(CarvoGet, AFailedFirstAddressFallsBackToTheNext) {
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
TEST_F(CarvoGet, AFileThatFailsItsCheckLeavesTheTargetAsItWas) {
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
