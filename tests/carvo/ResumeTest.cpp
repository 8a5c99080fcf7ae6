// DLResume against a scripted transfer component and real files: its checks before any
// traffic, its own probe, the range request, and the file written from the offset on.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "Bytes.h"
#include "Harness.h"
#include "NginxServer.h"

using namespace carvo;
using namespace carvo::test;
using Events = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

// A server holding `full` that answers "Range: bytes=N-" with 206 and the rest of the body,
// or, when ranges are off, with a plain 200.
struct Resume : Harness {
    fs::path target;
    std::string full;
    bool honourRange = true;
    int rangeStatus = 206;
    std::string validators = "ETag: \"v1\"\r\n";  // in every answer

    explicit Resume(std::string body) : full(std::move(body)) {
        target = fs::temp_directory_path() / ("carvo-resume-" + std::to_string(::getpid()) + "-" +
                                              std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        dl->setUrl("http://h/pub/big.bin");
        dl->setSaveLocation(target.string());
        script.onExecute = [this](FakeTransferScript& s, std::string_view extra) {
            const std::string prefix = "Range: bytes=";
            if (extra.rfind(prefix, 0) != 0 || !honourRange) {
                s.header = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(full.size()) +
                           "\r\n" + validators;
                s.body = full;
                return;
            }
            long long from = std::stoll(std::string(extra.substr(prefix.size())));
            if (rangeStatus != 206 || from < 0 || from > static_cast<long long>(full.size())) {
                s.header = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n";
                s.body.clear();
                return;
            }
            s.body = full.substr(static_cast<std::size_t>(from));
            s.header = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                       std::to_string(from) + "-" + std::to_string(full.size() - 1) + "/" +
                       std::to_string(full.size()) +
                       "\r\nContent-Length: " + std::to_string(s.body.size()) + "\r\n" + validators;
        };
    }
    ~Resume() { fs::remove(target); }

    void partial(const std::string& content) { storeBytes(target, content); }
    // The probes still get the whole file; `change` alters the answer to the range request only.
    void onRange(std::function<void(FakeTransferScript&)> change) {
        script.onExecute = [answer = script.onExecute, change](FakeTransferScript& s, std::string_view extra) {
            answer(s, extra);
            if (!extra.empty()) change(s);
        };
    }
    // A probe first, as a host does, so ResumeSupported is known.
    void run() {
        dl->GetFileInformation();
        log->events.clear();
        transfer->calls.clear();
        dl->DLResume();
    }
};

}  // namespace

TEST(Resume, CompletesAPartialFileFromItsLength) {
    Resume r(pattern(10000));
    r.partial(r.full.substr(0, 5000));
    r.run();
    EXPECT_EQ(loadBytes(r.target), r.full);
    const auto& calls = r.transfer->calls;
    EXPECT_NE(
        std::find(calls.begin(), calls.end(), "Execute GET Range: bytes=5000-\nIf-Range: \"v1\""),
        calls.end());
    const auto& ev = r.log->events;
    auto resuming = std::find(ev.begin(), ev.end(), "StatusChange\tResumindo " + r.target.string() + ".");
    ASSERT_NE(resuming, ev.end());
    EXPECT_EQ(*(resuming + 3), "RecievedBytes\t6024");  // counted on the whole file
    EXPECT_EQ(*(resuming + 5), "StatusChange\tRecebendo Arquivo.");
    EXPECT_EQ(r.log->last("Percent"), "Percent\t100");
    EXPECT_EQ(r.log->last("TimeLeft"), "TimeLeft\t0 seg");
    EXPECT_EQ(Events(ev.end() - 2, ev.end()), (Events{"DLComplete", "StatusChange\tDownload Terminado!"}));
    EXPECT_EQ(r.dl->InDL(), VFalse);
}

TEST(Resume, OnlyAStrongValidatorLetsTheRestBeAskedFor) {
    // The rest is asked for only of the version the server names by a strong validator
    // (If-Range); without one the resume is refused before any range is asked for, and the host
    // starts over. A date counts only when the answer's Date is at least a second later; a weak
    // tag, or a tag that spells out a date that is not strong, counts for nothing, and hides
    // the date beside it.
    const std::string date = "Date: Wed, 09 Dec 2026 18:00:00 GMT\r\n";
    const std::string fresh = "Last-Modified: Wed, 09 Dec 2026 18:00:00 GMT\r\n";
    const std::string second = "Last-Modified: Wed, 09 Dec 2026 17:59:59 GMT\r\n";
    // 0x6b19971f and 0x6b199720 are 17:59:59 and 18:00:00 of that day.
    struct Case {
        std::string validators;
        std::string ifRange;  // "" when the resume must be refused
    };
    const Case cases[] = {
        {"", ""},
        {date, ""},
        {"ETag: W/\"v1\"\r\n", ""},
        {"ETag: W/\"v1\"\r\n" + second + date, ""},
        {fresh + date, ""},
        {second, ""},
        {"Last-Modified: Wednesday, 09-Dec-26 17:59:59 GMT\r\n" + date, ""},
        {"ETag: \"6b199720-2710\"\r\n" + fresh + date, ""},
        {second + date, "Wed, 09 Dec 2026 17:59:59 GMT"},
        {"ETag: \"6b199720-2710\"\r\n" + fresh, ""},
        {"ETag: \"6b19971f-2710\"\r\n" + second + date, "\"6b19971f-2710\""},
        {"ETag: \"v1\"\r\n" + fresh + date, "\"v1\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.validators);
        Resume r(pattern(10000));
        r.validators = c.validators;
        r.partial(r.full.substr(0, 5000));
        r.run();
        const auto& calls = r.transfer->calls;
        const bool asked =
            std::find(calls.begin(), calls.end(),
                      "Execute GET Range: bytes=5000-\nIf-Range: " + c.ifRange) != calls.end();
        if (c.ifRange.empty()) {
            EXPECT_EQ(r.log->last("StatusChange"), "StatusChange\tResume Falhou.");
            for (const auto& call : calls) EXPECT_EQ(call.find("Range"), std::string::npos);
            EXPECT_EQ(loadBytes(r.target), r.full.substr(0, 5000));
        } else {
            EXPECT_TRUE(asked);
            EXPECT_EQ(loadBytes(r.target), r.full);
        }
    }
}

TEST(Resume, RollbackFetchesTheOverlapAgainAndTheFileIsCutToItsEnd) {
    Resume r(pattern(8000));
    std::string damaged = r.full.substr(0, 6000);
    for (std::size_t i = 5500; i < 6000; ++i) damaged[i] = 'X';  // a torn tail
    r.partial(damaged + std::string(3000, 'Z'));  // and more than the server has
    r.dl->setROLLBACK(3500 + 3000);                // offset 5500
    r.run();
    EXPECT_EQ(loadBytes(r.target), r.full);
}

TEST(Resume, ARefusedRangeLeavesThePartialFileAsItWas) {
    const std::string before = pattern(10000).substr(0, 4000);
    {
        Resume r(pattern(10000));
        r.honourRange = false;  // a server that ignores ranges answers 200
        r.partial(before);
        r.run();
        EXPECT_EQ(r.log->last("StatusChange"), "StatusChange\tResume Falhou.");
        EXPECT_TRUE(r.log->named("DLECode").empty());
        EXPECT_EQ(loadBytes(r.target), before);
    }
    {
        Resume r(pattern(10000));
        r.rangeStatus = 416;
        r.partial(before);
        r.run();
        EXPECT_EQ(r.log->last("StatusChange"), "StatusChange\tResume Falhou.");
        EXPECT_EQ(loadBytes(r.target), before);
    }
    {
        Resume r(pattern(10000));  // ROLLBACK beyond the file: a negative offset
        r.partial(before.substr(0, 100));
        r.dl->setROLLBACK(200);
        r.run();
        const auto& calls = r.transfer->calls;
        EXPECT_NE(std::find(calls.begin(), calls.end(),
                            "Execute GET Range: bytes=-100-\nIf-Range: \"v1\""),
                  calls.end());
        EXPECT_EQ(r.log->last("StatusChange"), "StatusChange\tResume Falhou.");
        EXPECT_EQ(loadBytes(r.target), before.substr(0, 100));
    }
}

TEST(Resume, AnOffsetBeyondTheFileOrAShortRangeIsRefusedBeforeAnythingIsWritten) {
    {
        Resume r(pattern(10000));
        r.partial(r.full.substr(0, 3000));
        r.dl->setROLLBACK(-2000);  // would ask from byte 5000 and leave a hole
        r.run();
        EXPECT_EQ(r.log->last("StatusChange"), "StatusChange\tResume Falhou.");
        for (const auto& call : r.transfer->calls) EXPECT_EQ(call.find("Range"), std::string::npos);
        EXPECT_EQ(loadBytes(r.target), r.full.substr(0, 3000));
    }
    {
        Resume r(pattern(10000));
        r.partial(r.full.substr(0, 4000));
        r.onRange([&](FakeTransferScript& s) {
            s.header = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 4000-5999/10000\r\nContent-Length: 2000\r\n";
            s.body = r.full.substr(4000, 2000);
        });
        r.run();
        EXPECT_EQ(r.log->last("StatusChange"), "StatusChange\tResume Falhou.");
        EXPECT_EQ(loadBytes(r.target), r.full.substr(0, 4000));
    }
}

TEST(Resume, A206FromTheWrongOffsetIsRefusedRatherThanCorruptingTheFile) {
    Resume r(pattern(10000));
    r.partial(r.full.substr(0, 4000));
    r.script.onExecute = [&](FakeTransferScript& s, std::string_view) {
        s.header = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-9999/10000\r\nContent-Length: 10000\r\n";
        s.body = r.full;
    };
    r.run();
    EXPECT_EQ(r.log->last("StatusChange"), "StatusChange\tResume Falhou.");
    EXPECT_EQ(loadBytes(r.target), r.full.substr(0, 4000));
}

TEST(Resume, ChecksBeforeAnyTrafficGiveCodesSixAndSeven) {
    {
        Resume r(pattern(100));  // never probed: resume not known to work
        r.partial("abc");
        r.dl->DLResume();
        EXPECT_EQ(r.log->events, (Events{"DLError\tResume Não Suportado!", "DLECode\t7",
                                         "StatusChange\tResume Não Suportado, Abortando Download!"}));
        EXPECT_EQ(r.transfer->calls, (std::vector<std::string>{"URL http://h/pub/big.bin"}));
    }
    {
        Resume r(pattern(100));  // missing partial file, whatever ResumeSupported holds
        r.dl->DLResume();
        EXPECT_EQ(r.log->events, (Events{"DLError\tArquivo Resume Não Encontrado!", "DLECode\t6",
                                         "StatusChange\tArquivo Resume não econtrado, Abortando Download!"}));
        r.run();
        EXPECT_EQ(r.log->last("DLECode"), "DLECode\t6");
    }
    {
        Resume r(pattern(100));
        r.partial("abc");
        r.dl->setOnlineCheck(VTrue);
        r.dl->DLResume();
        EXPECT_EQ(r.log->events, (Events{"DLECode\t5", "DLError\tConexão com a Internet não econtrada!",
                                         "StatusChange\tNão há Conexão ativa com a Internet!"}));
    }
}

TEST(Resume, ACancelDuringItsOwnProbeEndsOnlyTheProbe) {
    Resume r(pattern(6000));
    r.partial(r.full.substr(0, 1000));
    r.dl->GetFileInformation();
    r.log->events.clear();
    r.script.executingPolls = 3;
    r.host.onYield(r.host.yieldCount() + 1, [&] { r.dl->Cancel(); });
    r.dl->DLResume();
    const auto& ev = r.log->events;
    EXPECT_NE(std::find(ev.begin(), ev.end(), "DLECode\t4"), ev.end());
    EXPECT_EQ(r.dl->ccancel(), VFalse);
    EXPECT_EQ(r.log->named("DLComplete").size(), 1u);  // the resume went on with its range request
    EXPECT_EQ(loadBytes(r.target), r.full);
}

TEST(Resume, PausedTextsAreItsOwnAndCancelEndsWithCodeFour) {
    Resume r(pattern(6000));
    r.partial(r.full.substr(0, 1000));
    r.log->onEach = [&](const std::string& e) {
        if (e == "RecievedBytes\t2024") r.dl->Pause(VTrue);
    };
    int paused = 0;
    r.host.everyYield([&] {
        if (r.dl->CPause() == VTrue && ++paused == 2) {
            r.dl->Cancel();
            r.dl->Pause(VFalse);
        }
    });
    r.run();
    EXPECT_EQ(r.log->named("StatusChange\tPaused.").size(), 2u);
    const auto& ev = r.log->events;
    EXPECT_EQ(Events(ev.end() - 2, ev.end()), (Events{"DLECode\t4", "StatusChange\tCancelado."}));
    EXPECT_EQ(loadBytes(r.target), r.full.substr(0, 2024));
}

TEST(Resume, ABrokenResumeUsesItsOwnErrorTexts) {
    Resume r(pattern(6000));
    r.partial(r.full.substr(0, 1000));
    r.script.failAfterBytes = 2000;
    r.run();
    const auto& ev = r.log->events;
    EXPECT_EQ(Events(ev.end() - 3, ev.end()),
              (Events{"DLError\tErro Ao Puxar Arquivo de: http://h/pub/big.bin",
                      "StatusChange\tDownload Abortado Devido a Erro!", "DLECode\t1"}));
    EXPECT_EQ(loadBytes(r.target), r.full.substr(0, 3000));
}

namespace {
const Events kResumeErrorExit = {"DLError\tErro Ao Puxar Arquivo de: http://h/pub/big.bin",
                                 "StatusChange\tDownload Abortado Devido a Erro!", "DLECode\t1"};
}  // namespace

TEST(Resume, ALinkOrASpecialFileIsNeverResumedInto) {
    {  // A link to someone's file: refused, that file unchanged.
        Resume r(pattern(10000));
        const fs::path theirs = r.target.string() + ".theirs";
        storeBytes(theirs, r.full.substr(0, 5000));
        fs::create_symlink(theirs, r.target);
        r.run();
        EXPECT_EQ(r.log->events, kResumeErrorExit);
        EXPECT_EQ(loadBytes(theirs), r.full.substr(0, 5000));
        fs::remove(theirs);
    }
    {  // A dangling link: refused, nothing created where it points.
        Resume r(pattern(10000));
        const fs::path nowhere = r.target.string() + ".nowhere";
        fs::create_symlink(nowhere, r.target);
        r.run();
        EXPECT_EQ(r.log->events, kResumeErrorExit);
        EXPECT_FALSE(fs::exists(nowhere));
    }
    {  // A FIFO: an error at once.
        Resume r(pattern(10000));
        ASSERT_EQ(::mkfifo(r.target.c_str(), 0600), 0);
        r.run();
        EXPECT_EQ(r.log->events, kResumeErrorExit);
    }
}

TEST(Resume, ThePartialFileMustStayTheOneThatWasMeasured) {
    // Between the probe and the range's answer the partial file is cut, replaced by a link, or
    // deleted (or cut while the rest arrives): the run ends in the error exit, with no hole and no
    // one else's file written.
    for (const std::string change : {"cut", "link", "delete", "cut later"}) {
        Resume r(pattern(10000));
        r.partial(r.full.substr(0, 5000));
        const fs::path other = r.target.string() + ".other";
        storeBytes(other, "someone else's");
        r.onRange([&](FakeTransferScript&) {
            if (change == "cut later") return;
            if (change == "cut") fs::resize_file(r.target, 0);
            if (change != "cut") fs::remove(r.target);
            if (change == "link") fs::create_symlink(other, r.target);
        });
        r.log->onEach = [&](const std::string& e) {
            if (change == "cut later" && e.starts_with("RecievedBytes"))
                fs::resize_file(r.target, 0);
        };
        r.run();
        EXPECT_TRUE(r.log->named("DLComplete").empty()) << change;
        EXPECT_EQ(r.log->last("DLECode"), "DLECode\t1") << change;
        EXPECT_EQ(loadBytes(other), "someone else's") << change;
        EXPECT_TRUE(!change.starts_with("cut") || fs::file_size(r.target) == 0u) << change;
        fs::remove(other);
    }
}

TEST(Resume, A206ThatWouldNotCompleteTheFileIsRefusedOrFails) {
    // A length shorter than the range claims, or a total other than the probe's (the file changed
    // on the server): refused before anything is written. A body that ends before the range's
    // end (no headers changed): the error exit, never DLComplete, with what came kept.
    for (const std::string rangeHeaders :
         {"Content-Range: bytes 5000-9999/10000\r\nContent-Length: 100\r\n",
          "Content-Range: bytes 5000-11999/12000\r\nContent-Length: 7000\r\n", ""}) {
        SCOPED_TRACE(rangeHeaders);
        Resume r(pattern(10000));
        r.partial(r.full.substr(0, 5000));
        r.onRange([&](FakeTransferScript& s) {
            if (!rangeHeaders.empty()) s.header = "HTTP/1.1 206 Partial Content\r\n" + rangeHeaders;
            s.body.resize(100);
        });
        r.run();
        EXPECT_TRUE(r.log->named("DLComplete").empty());
        if (rangeHeaders.empty()) {
            EXPECT_EQ(Events(r.log->events.end() - 3, r.log->events.end()), kResumeErrorExit);
            EXPECT_EQ(loadBytes(r.target), r.full.substr(0, 5100));
        } else {
            EXPECT_EQ(r.log->last("StatusChange"), "StatusChange\tResume Falhou.");
            EXPECT_EQ(loadBytes(r.target), r.full.substr(0, 5000));
        }
    }
}
