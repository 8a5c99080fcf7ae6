// DownLoad against a scripted transfer component and real files: the passes and their
// events, the existing-file dialogs, cancel, pause and every way the transfer ends.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "Bytes.h"
#include "Harness.h"
#include "NginxServer.h"
#include "TargetFile.h"
#include "host/ConsoleHost.h"

using namespace carvo;
using namespace carvo::test;
using Events = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

// A harness whose probe answers 200 with the given body and a matching Content-Length.
struct Download : Harness {
    ScratchFolder dir{"carvo-dl"};
    fs::path target = dir / "file.bin";

    explicit Download(const std::string& body, std::int32_t chunk = 1024) {
        script.body = body;
        script.header = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
        dl->setUrl("http://h/pub/file.bin");
        dl->setSaveLocation(target.string());
        dl->setCHUNK(chunk);
    }
    void run() {
        dl->GetFileInformation();
        log->events.clear();
        dl->DownLoadFile();
    }
};

const Events kErrorExit = {"DLError\tErro ao puxar arquivo de: http://h/pub/file.bin",
                           "StatusChange\tErro ao puxar o arquivo!", "DLECode\t1"};

}  // namespace

TEST(Transfer, EveryPassRaisesItsFiveEventsInOrderAndTheFileIsExact) {
    for (std::size_t size : {1u, 1023u, 1024u, 1025u, 3u * 1024 * 1024 + 17}) {
        Download d(pattern(size));
        d.run();
        EXPECT_EQ(loadBytes(d.target), d.script.body) << size;
        const auto& ev = d.log->events;
        ASSERT_GE(ev.size(), 8u);
        EXPECT_EQ(ev.front(), "StatusChange\tPuxando Arquivos...");
        // Passes of five events each, then completion.
        std::size_t passes = (ev.size() - 3) / 5;
        EXPECT_EQ(ev.size(), 1 + passes * 5 + 2) << size;
        for (std::size_t p = 0; p < passes; ++p) {
            EXPECT_EQ(ev[1 + p * 5].rfind("Rate\t", 0), 0u);
            EXPECT_EQ(ev[2 + p * 5].rfind("TimeLeft\t", 0), 0u);
            EXPECT_EQ(ev[3 + p * 5].rfind("RecievedBytes\t", 0), 0u);
            EXPECT_EQ(ev[4 + p * 5].rfind("Percent\t", 0), 0u);
            EXPECT_EQ(ev[5 + p * 5], "StatusChange\tPuxando Arquivos...");
        }
        EXPECT_EQ(ev[ev.size() - 2], "DLComplete");
        EXPECT_EQ(ev.back(), "StatusChange\tDownload Concluído!");
        EXPECT_EQ(d.log->last("RecievedBytes"), "RecievedBytes\t" + std::to_string(size));
        EXPECT_EQ(d.log->last("Percent"), "Percent\t100");
        EXPECT_EQ(d.dl->InDL(), VFalse);
        EXPECT_EQ(d.dl->BytesReceived(), static_cast<std::int32_t>(size));
        EXPECT_FALSE(d.transfer->isOpen());
    }
}

TEST(Transfer, RateAndTimeLeftFollowTheClockFromTheProbe) {
    // One million bytes; after 100 pieces of 1024 the clock stands 10 s after the probe.
    Download d(pattern(1000000));
    d.host.setClock(5000);
    d.dl->GetFileInformation();
    d.log->onEach = [&](const std::string& e) {
        if (e == "RecievedBytes\t101376") d.host.setClock(5010);
    };
    d.dl->DownLoadFile();
    const auto& ev = d.log->events;
    auto at = std::find(ev.begin(), ev.end(), "RecievedBytes\t102400");
    ASSERT_NE(at, ev.end());
    EXPECT_EQ(*(at - 2), "Rate\t9.09 Kb/s");
    EXPECT_EQ(*(at - 1), "TimeLeft\t1 min 36 seg");
    EXPECT_EQ(*(at + 1), "Percent\t10");
    EXPECT_FLOAT_EQ(d.dl->BytesPerSecond(), 1000000.0f / 11.0f);
}

TEST(Transfer, EmptyBodiesAndUnknownSizesEndInTheErrorExitWithTheFileKept) {
    Download empty("");
    empty.run();
    EXPECT_EQ(std::vector<std::string>(empty.log->events.end() - 3, empty.log->events.end()), kErrorExit);
    EXPECT_TRUE(fs::exists(empty.target));
    EXPECT_EQ(empty.dl->InDL(), VTrue);

    // Size 0 announced but a body arrives: the first piece is written, then the percentage fails.
    Download unknown(pattern(3000));
    unknown.script.header = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n";
    unknown.run();
    const auto& ev = unknown.log->events;
    ASSERT_EQ(ev.size(), 7u);
    EXPECT_EQ(ev[1].rfind("Rate", 0), 0u);
    EXPECT_EQ(ev[2].rfind("TimeLeft", 0), 0u);
    EXPECT_EQ(ev[3], "RecievedBytes\t1024");
    EXPECT_EQ(Events(ev.begin() + 4, ev.end()), kErrorExit);
    EXPECT_EQ(loadBytes(unknown.target), unknown.script.body.substr(0, 1024));
}

TEST(Transfer, ABodyLongerThanAnnouncedIsSavedWhole) {
    Download d(pattern(5000));
    d.script.header = "HTTP/1.1 200 OK\r\nContent-Length: 2048\r\n";
    d.run();
    EXPECT_EQ(loadBytes(d.target), d.script.body);
    EXPECT_EQ(d.log->last("Percent"), "Percent\t244");
    EXPECT_EQ(d.log->named("DLComplete").size(), 1u);
    EXPECT_LT(d.dl->SecondsLeft(), 0);
}

TEST(Transfer, AChunkOfOneStillFetchesTheWholeBody) {
    Download d("abcdef", 1);
    d.run();
    EXPECT_EQ(loadBytes(d.target), "abcdef");
    EXPECT_EQ(d.log->named("DLComplete").size(), 1u);
}

TEST(Transfer, ABadChunkSizeIsAFailureNotAnEmptyFile) {
    Download d(pattern(100), 0);
    d.run();
    EXPECT_EQ(d.log->last("DLECode"), "DLECode\t1");
    EXPECT_TRUE(d.log->named("DLComplete").empty());
}

TEST(Transfer, ACutShortBodyKeepsThePartialFileClosedWithCodeOne) {
    Download d(pattern(10000));
    d.script.failAfterBytes = 4000;
    d.run();
    EXPECT_EQ(std::vector<std::string>(d.log->events.end() - 3, d.log->events.end()), kErrorExit);
    EXPECT_EQ(loadBytes(d.target), d.script.body.substr(0, 4000));
    EXPECT_FALSE(d.transfer->isOpen());
    EXPECT_EQ(d.dl->InDL(), VTrue);
}

TEST(Transfer, NothingIsDestroyedWhenThereIsNothingToReplaceIt) {
    // No probe, or a probe that was refused: the existing file stays as it was.
    for (const char* status : {"", "404 Not Found", "500 Internal Server Error", "200 OK"}) {
        Download d(pattern(10));
        storeBytes(d.target, "precious");
        if (*status) {
            d.script.header = std::string("HTTP/1.1 ") + status + "\r\n";
            d.dl->GetFileInformation();
        }
        d.log->events.clear();
        d.dl->DownLoadFile();
        EXPECT_EQ(d.log->events, kErrorExit) << status;
        EXPECT_EQ(loadBytes(d.target), "precious") << status;
    }
    // A body already saved is not saved again over the file.
    Download d(pattern(100));
    d.run();
    storeBytes(d.target, "edited since");
    d.log->events.clear();
    d.dl->DownLoadFile();
    EXPECT_EQ(d.log->events, kErrorExit);
    EXPECT_EQ(loadBytes(d.target), "edited since");
}

TEST(Transfer, ACallFromAnEventHandlerThatReplacesTheResponseNeverSplicesTwoBodies) {
    Download d(pattern(4096));
    d.log->onEach = [&](const std::string& e) {
        if (e == "RecievedBytes\t1024") d.dl->GetFileInformation();
    };
    d.run();
    EXPECT_TRUE(d.log->named("DLComplete").empty());
    EXPECT_EQ(d.log->last("DLECode"), "DLECode\t1");
    // The bytes of the original response already reported stay; nothing of the new one.
    EXPECT_EQ(loadBytes(d.target), d.script.body.substr(0, 1024));
}

namespace {
// A host that runs an action while its overwrite question is open.
struct BusyDialogHost : ScriptedHost {
    std::function<void()> whileAsking;
    MsgBoxResult messageBox(std::string_view text, int style, std::string_view title) override {
        if (whileAsking) std::exchange(whileAsking, nullptr)();
        return ScriptedHost::messageBox(text, style, title);
    }
};
}  // namespace

TEST(Transfer, AResponseReplacedWhileTheOverwriteQuestionIsOpenIsNotSaved) {
    Download d(pattern(3000));
    BusyDialogHost host;
    d.site.host = &host;
    d.dl->setPromptOverwrite(VTrue);
    storeBytes(d.target, "old");
    host.whileAsking = [&] {
        d.dl->setUrl("http://h/pub/other.bin");
        d.dl->GetFileInformation();
    };
    host.answerBox(MsgBoxResult::Yes);
    d.run();
    EXPECT_TRUE(d.log->named("DLComplete").empty());
    EXPECT_EQ(d.log->last("DLECode"), "DLECode\t1");
    EXPECT_EQ(loadBytes(d.target), "old");
}

TEST(Transfer, BytesReportedAreOnDiskWhilePaused) {
    Download d(pattern(50000));
    d.log->onEach = [&](const std::string& e) {
        if (e == "RecievedBytes\t3072") d.dl->Pause(VTrue);
    };
    std::uintmax_t onDisk = 0;
    d.host.everyYield([&] {
        if (d.dl->CPause() != VTrue) return;
        onDisk = fs::file_size(d.target);  // what a process killed now would leave
        d.dl->Cancel();
        d.dl->Pause(VFalse);
    });
    d.run();
    EXPECT_EQ(onDisk, 3072u);
    EXPECT_EQ(d.log->last("DLECode"), "DLECode\t4");
}

TEST(Transfer, ABodyShorterThanItsLengthIsAFailureNotAFile) {
    Download d(pattern(4000));
    d.script.header = "HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n";
    d.run();
    EXPECT_TRUE(d.log->named("DLComplete").empty());
    EXPECT_EQ(Events(d.log->events.end() - 3, d.log->events.end()), kErrorExit);
    EXPECT_EQ(loadBytes(d.target), d.script.body);  // kept for a resume
    EXPECT_EQ(d.dl->InDL(), VTrue);
}

TEST(Transfer, AFileThatStopsEarlyIsACleanPrefixOfTheNewBody) {
    // Written in place over a longer file ("the same name", No): a cancel and a failure cut the
    // file at the last byte written, so no tail of the old file passes for downloaded bytes.
    for (bool cancel : {true, false}) {
        Download d(pattern(10000));
        d.dl->setPromptOverwrite(VTrue);
        storeBytes(d.target, std::string(20000, 'o'));
        d.host.answerBox(MsgBoxResult::No);
        d.host.answerInput(d.target.string());
        d.host.answerBox(MsgBoxResult::No);
        if (cancel) {
            d.log->onEach = [&](const std::string& e) {
                if (e == "RecievedBytes\t3072") d.dl->Cancel();
            };
        } else {
            d.script.failAfterBytes = 4000;
        }
        d.run();
        EXPECT_EQ(d.log->last("DLECode"), cancel ? "DLECode\t4" : "DLECode\t1");
        EXPECT_EQ(loadBytes(d.target), d.script.body.substr(0, cancel ? 3072 : 4000)) << cancel;
    }
}

TEST(Transfer, TheTargetIsNeverFollowedThroughALinkNorASpecialFile) {
    {  // A dangling link: refused, and nothing is created where it points.
        Download d(pattern(100));
        fs::create_symlink(d.dir / "elsewhere.bin", d.target);
        d.run();
        EXPECT_EQ(d.log->events, kErrorExit);
        EXPECT_TRUE(fs::is_symlink(d.target));
        EXPECT_FALSE(fs::exists(d.dir / "elsewhere.bin"));
    }
    {  // A link to an existing file is replaced, as an existing file is; its target stays.
        Download d(pattern(100));
        storeBytes(d.dir / "theirs.txt", "not yours");
        fs::create_symlink(d.dir / "theirs.txt", d.target);
        d.run();
        EXPECT_EQ(d.log->named("DLComplete").size(), 1u);
        EXPECT_FALSE(fs::is_symlink(d.target));
        EXPECT_EQ(loadBytes(d.target), d.script.body);
        EXPECT_EQ(loadBytes(d.dir / "theirs.txt"), "not yours");
    }
    {  // A FIFO without a reader, and a device: an error at once, never a hang.
        Download fifo(pattern(100));
        ASSERT_EQ(::mkfifo(fifo.target.c_str(), 0600), 0);
        const auto start = std::chrono::steady_clock::now();
        fifo.run();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_EQ(fifo.log->events, kErrorExit);
        EXPECT_TRUE(fs::is_fifo(fifo.target));

        Download device(pattern(100));
        device.dl->setSaveLocation("/dev/null");
        device.run();
        EXPECT_EQ(device.log->events, kErrorExit);
    }
}

TEST(Transfer, AFileCreatedNewRefusesOnePlantedAtItsNameMeanwhile) {
    ScratchFolder dir{"carvo-new"};
    storeBytes(dir / "file.bin", "planted");
    EXPECT_THROW(TargetFile((dir / "file.bin").string(), TargetFile::Mode::New), ComError);
    EXPECT_EQ(loadBytes(dir / "file.bin"), "planted");
}

TEST(Transfer, OnlineCheckAndKeepTypeCountAsTrueOnlyAtMinusOne) {
    Download d(pattern(100));
    d.connection = {false, 0};
    d.dl->setUrl("http://h/pub/setup.exe");
    d.dl->setOnlineCheck(1);
    d.dl->setKeepType(1);
    d.run();
    EXPECT_TRUE(d.host.calls().empty());  // no connection check, so no message box
    EXPECT_EQ(loadBytes(d.target), d.script.body);  // saved under SaveLocation as it is
    EXPECT_FALSE(fs::exists(d.dir / "file.exe"));
}

TEST(Transfer, AHostMayReleaseTheControlFromAnEventHandler) {
    Download d(pattern(5000));
    std::shared_ptr<DownLoad> shared = std::move(d.dl);
    std::weak_ptr<DownLoad> watch = shared;
    d.log->onEach = [&](const std::string& e) {
        if (e == "RecievedBytes\t1024") shared.reset();
    };
    DownLoad* control = shared.get();
    control->GetFileInformation();
    control->DownLoadFile();  // the control lives until its method returns
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(d.log->named("DLComplete").size(), 1u);
    EXPECT_EQ(loadBytes(d.target), d.script.body);
}

TEST(Transfer, AConsoleWhoseInputEndsKeepsTheExistingFile) {
    Download d(pattern(100));
    d.dl->setPromptOverwrite(VTrue);
    storeBytes(d.target, "keep me");
    std::string answers = "n\n";  // No to the question, then the input ends
    std::FILE* in = ::fmemopen(answers.data(), answers.size(), "r");
    std::FILE* out = std::tmpfile();
    ConsoleHost console(in, out);
    console.setInteractive(true);
    d.site.host = &console;
    d.run();
    std::fclose(in);
    std::fclose(out);
    EXPECT_EQ(loadBytes(d.target), "keep me");
    EXPECT_EQ(d.log->last("StatusChange"), "StatusChange\tArquivo existente mantido: " + d.target.string());
}

TEST(Transfer, AStaleCancelMakesDownLoadReturnSilently) {
    Download d(pattern(10));
    d.dl->GetFileInformation();
    d.dl->Cancel();
    d.log->events.clear();
    d.dl->DownLoadFile();
    EXPECT_TRUE(d.log->events.empty());
    EXPECT_EQ(d.dl->ccancel(), VTrue);
    EXPECT_FALSE(fs::exists(d.target));
}

TEST(Transfer, TheConnectionGateRefusesWithoutAProbeThatFoundAConnection) {
    Download d(pattern(10));
    d.dl->setOnlineCheck(VTrue);
    d.dl->DownLoadFile();
    EXPECT_EQ(d.log->events, (Events{"DLECode\t5", "DLError\tConexão com a Internet não encontrada!",
                                     "StatusChange\tNão há Conexão ativa com a Internet!"}));
    d.log->events.clear();
    d.dl->GetFileInformation();  // connected now
    d.dl->DownLoadFile();
    EXPECT_EQ(loadBytes(d.target), d.script.body);
}

TEST(Transfer, CancelDuringTheTransferClosesTheFileWithCodeFour) {
    Download d(pattern(50000));
    d.log->onEach = [&](const std::string& e) {
        if (e == "RecievedBytes\t3072") d.dl->Cancel();
    };
    d.run();
    const auto& ev = d.log->events;
    EXPECT_NE(std::find(ev.begin(), ev.end(), "StatusChange\tCancelando.."), ev.end());
    EXPECT_EQ(Events(ev.end() - 2, ev.end()), (Events{"DLECode\t4", "StatusChange\tCancelado."}));
    EXPECT_EQ(loadBytes(d.target), d.script.body.substr(0, 3072));
    EXPECT_EQ(d.dl->InDL(), VTrue);
    EXPECT_EQ(d.dl->ccancel(), VFalse);
    EXPECT_TRUE(d.transfer->isOpen());  // the request is not cancelled
}

TEST(Transfer, PauseWaitsYieldingAndACancelWhilePausedWaitsForThePauseToLift) {
    Download d(pattern(5000));
    d.log->onEach = [&](const std::string& e) {
        if (e == "RecievedBytes\t1024") d.dl->Pause(VTrue);
    };
    int pausedYields = 0;
    d.host.everyYield([&] {
        if (d.dl->CPause() != VTrue) return;
        if (++pausedYields == 2) d.dl->Cancel();
        if (pausedYields == 4) d.dl->Pause(VFalse);
    });
    d.run();
    auto paused = d.log->named("StatusChange\tEm Pausa.");
    EXPECT_EQ(paused.size(), 4u);  // raised after each yield, the one that lifted it included
    const auto& ev = d.log->events;
    // The cancel is honoured at the start of the next pass, after the pause.
    EXPECT_EQ(Events(ev.end() - 2, ev.end()), (Events{"DLECode\t4", "StatusChange\tCancelado."}));
    EXPECT_EQ(d.log->named("RecievedBytes").size(), 1u);
    EXPECT_NE(std::find(ev.begin(), ev.end(), "StatusChange\tDespausando"), ev.end());
}

TEST(Transfer, ExistingTargetWithoutPromptIsReplaced) {
    Download d(pattern(100));
    storeBytes(d.target, pattern(100000));
    d.run();
    EXPECT_EQ(loadBytes(d.target), d.script.body);
    EXPECT_TRUE(d.host.calls().empty());
}

TEST(Transfer, OverwriteDialogsYesNoNewNameAndSameName) {
    const std::string question = "Você quer substituir o arquivo: ";
    {  // Yes: replaced.
        Download d(pattern(100));
        d.dl->setPromptOverwrite(VTrue);
        storeBytes(d.target, "old");
        d.host.answerBox(MsgBoxResult::Yes);
        d.run();
        ASSERT_EQ(d.host.calls().size(), 1u);
        EXPECT_EQ(d.host.calls()[0].text, question + d.target.string() + " ?");
        EXPECT_EQ(d.host.calls()[0].title, "Substituir?");
        EXPECT_EQ(d.host.calls()[0].style, mb::YesNo | mb::Information);
        EXPECT_EQ(loadBytes(d.target), d.script.body);
    }
    {  // No, then an empty answer, then a new name: the old file stays, the new one is written.
        Download d(pattern(100));
        d.dl->setPromptOverwrite(VTrue);
        storeBytes(d.target, "old");
        const fs::path other = d.dir / "other.bin";
        d.host.answerBox(MsgBoxResult::No);
        d.host.answerInput("");
        d.host.answerInput(" ");
        d.host.answerInput(other.string());
        d.run();
        const auto& calls = d.host.calls();
        ASSERT_EQ(calls.size(), 6u);
        EXPECT_EQ(calls[1].kind, "inputBox");
        EXPECT_EQ(calls[1].text, "Por favor digite um novo nome de arquivo.\r\nExemplo: C:\\Arquivo2.txt");
        EXPECT_EQ(calls[1].title, "Novo Arquivo...");
        EXPECT_EQ(calls[1].defaultText, d.target.string());
        EXPECT_EQ(calls[2].text, "Você não especificou um arquivo!");
        EXPECT_EQ(calls[2].title, "Erro!");
        EXPECT_EQ(calls[2].style, mb::OkOnly | mb::Exclamation);
        EXPECT_EQ(calls[4].text, "Você não especificou um arquivo!");
        EXPECT_EQ(loadBytes(d.target), "old");
        EXPECT_EQ(loadBytes(other), d.script.body);
    }
    {  // The same name, Yes (ask again), the same name, No: written in place and cut to length.
        Download d(pattern(100));
        d.dl->setPromptOverwrite(VTrue);
        storeBytes(d.target, pattern(5000));
        d.host.answerBox(MsgBoxResult::No);
        d.host.answerInput(d.target.string());
        d.host.answerBox(MsgBoxResult::Yes);
        d.host.answerInput(d.target.string());
        d.host.answerBox(MsgBoxResult::No);
        d.run();
        const auto& calls = d.host.calls();
        ASSERT_EQ(calls.size(), 5u);
        EXPECT_EQ(calls[2].text,
                  "Você digitou o mesmo arquivo! Você gostaria de colocar outro nome para o arquivo?");
        EXPECT_EQ(calls[2].title, "Tentar De Novo?");
        EXPECT_EQ(calls[2].style, mb::YesNo | mb::Critical);
        EXPECT_EQ(loadBytes(d.target), d.script.body);  // nothing of the older, longer file remains
    }
}

TEST(Transfer, WithNobodyToAskTheExistingFileIsKept) {
    Download d(pattern(100));
    d.dl->setPromptOverwrite(VTrue);
    d.host.setCanAsk(false);
    storeBytes(d.target, "keep me");
    d.run();
    EXPECT_TRUE(d.host.calls().empty());
    EXPECT_EQ(loadBytes(d.target), "keep me");
    EXPECT_EQ(d.log->events,
              (Events{"DLError\tErro ao puxar arquivo de: http://h/pub/file.bin",
                      "StatusChange\tArquivo existente mantido: " + d.target.string(), "DLECode\t1"}));
}

TEST(Transfer, KeepTypeSavesUnderTheUrlsExtension) {
    Download d(pattern(100));
    d.dl->setUrl("http://h/pub/setup.exe");
    d.dl->setSaveLocation((d.dir / "Arquivo.tmp").string());
    d.dl->setKeepType(VTrue);
    d.run();
    EXPECT_EQ(loadBytes(d.dir / "Arquivo.exe"), d.script.body);

    Download shortUrl(pattern(100));
    shortUrl.dl->setUrl("a.exe");  // too short to look for an extension
    shortUrl.dl->setKeepType(VTrue);
    shortUrl.run();
    EXPECT_EQ(shortUrl.log->last("DLECode"), "DLECode\t1");
}

TEST(Transfer, AFileThatCannotBeOpenedIsAFailure) {
    Download d(pattern(100));
    d.dl->setSaveLocation("/nonexistent-dir/x/file.bin");
    d.run();
    EXPECT_EQ(d.log->events, (Events{"DLError\tErro ao puxar arquivo de: http://h/pub/file.bin",
                                     "StatusChange\tErro ao puxar o arquivo!", "DLECode\t1"}));
}
