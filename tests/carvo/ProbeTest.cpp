// GetFileInformation against a scripted transfer component: every outcome with its events in
// order and the fields it leaves.

#include <gtest/gtest.h>

#include "Harness.h"

using namespace carvo;
using namespace carvo::test;
using Events = std::vector<std::string>;

namespace {

const std::string kStart = "StatusChange\tIniciando Conexão...";
const std::string kAccepted = "StatusChange\tConexão Aceita, Recebendo Informações.";
const Events kErrorExit = {"DLError\tErro ao Ler Cabeçalho do Arquivo.",
                           "StatusChange\tErro Ao Ler Cabeçalho do Arquivo!", "DLECode\t1"};

Events concat(Events a, const Events& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(Probe, SuccessSetsTheFieldsAndLeavesTheRequestOpen) {
    Harness h;
    h.script.header = "HTTP/1.1 200 OK\r\nContent-Type: x\r\ncontent-length: 123456\r\n";
    h.script.executingPolls = 3;
    h.dl->setUrl("http://h/f.bin");
    h.host.setClock(500);
    h.dl->GetFileInformation();
    EXPECT_EQ(h.log->events, (Events{kStart, kAccepted, "StatusChange\tInformações Recebidas!"}));
    EXPECT_EQ(h.dl->FileExists(), VTrue);
    EXPECT_EQ(h.dl->ResumeSupported(), VTrue);
    EXPECT_EQ(h.dl->FileSize(), 123456);
    EXPECT_TRUE(h.transfer->isOpen());
    EXPECT_EQ(h.host.yieldCount(), 3);  // one yield between polls while the request runs
    EXPECT_EQ(h.transfer->calls.front(), "URL http://h/f.bin");
    EXPECT_EQ(h.transfer->calls[1], "Execute GET");

    Harness old;
    old.script.header = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n";
    old.dl->GetFileInformation();
    EXPECT_EQ(old.dl->ResumeSupported(), VFalse);
    EXPECT_EQ(old.dl->FileSize(), 5);

    Harness partial;  // any 2xx is a success
    partial.script.header = "HTTP/1.1 206 Partial Content\r\nContent-Length: 7\r\n";
    partial.dl->GetFileInformation();
    EXPECT_EQ(partial.dl->FileSize(), 7);
    EXPECT_EQ(partial.log->last("StatusChange"), "StatusChange\tInformações Recebidas!");
}

TEST(Probe, RefusedStatusesRaiseTheirOwnEventsInTheirOwnOrder) {
    struct Case {
        const char* status;
        Events events;
        VBool exists;
    };
    const Case cases[] = {
        {"401 Unauthorized",
         {"StatusChange\tAcesso Não Autorizado, Download Interrompido!", "DLECode\t401",
          "DLError\tAcesso Não Autorizado!"},
         VTrue},
        {"403 Forbidden",
         {"StatusChange\tAcesso Negado, Download Interrompido!", "DLECode\t403", "DLError\tAcesso Negado!"},
         VTrue},
        {"404 Not Found",
         {"DLError\tArquivo Não Encontrado!", "StatusChange\tArquivo Não Encontrado!", "DLECode\t2"},
         VFalse},
    };
    for (const auto& c : cases) {
        Harness h;
        h.script.header = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n";
        h.dl->GetFileInformation();  // a success first: the refusal must reset the fields
        ASSERT_EQ(h.dl->ResumeSupported(), VTrue);
        h.log->events.clear();
        h.script.header = std::string("HTTP/1.1 ") + c.status + "\r\nContent-Length: 99\r\n";
        h.dl->GetFileInformation();
        EXPECT_EQ(h.log->events, concat({kStart, kAccepted}, c.events)) << c.status;
        EXPECT_EQ(h.dl->FileExists(), c.exists) << c.status;
        EXPECT_EQ(h.dl->FileSize(), 0) << c.status;
        // 404 leaves ResumeSupported as it was; 401 and 403 clear it.
        EXPECT_EQ(h.dl->ResumeSupported(), c.exists ? VFalse : VTrue) << c.status;
        EXPECT_FALSE(h.transfer->isOpen()) << c.status;
    }
}

TEST(Probe, AServerErrorOrUnfollowedRedirectIsAFailureNotTheFile) {
    for (const char* status : {"500 Internal Server Error", "503 Service Unavailable", "410 Gone",
                               "302 Found", "100 Continue"}) {
        Harness h;
        h.script.header = std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 512\r\n";
        h.dl->GetFileInformation();
        EXPECT_EQ(h.log->events, concat({kStart, kAccepted}, kErrorExit)) << status;
        EXPECT_EQ(h.dl->FileExists(), VFalse) << status;
        EXPECT_EQ(h.dl->FileSize(), 0) << status;
        EXPECT_FALSE(h.transfer->isOpen()) << status;
    }
    Harness tiny;  // a header block too short to hold a status code
    tiny.script.header = "HTTP/1.1 2";
    tiny.dl->GetFileInformation();
    EXPECT_EQ(tiny.log->last("DLECode"), "DLECode\t1");
    EXPECT_EQ(tiny.dl->FileExists(), VFalse);
}

TEST(Probe, ContentLengthMustBeAThirtyTwoBitNumber) {
    struct Case {
        const char* header;
        bool ok;
        std::int32_t size;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\n", false, 0},
        {"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n", false, 0},
        {"HTTP/1.1 200 OK\r\nContent-Length: 1234.5\r\n", true, 1234},
        {"HTTP/1.1 200 OK\r\nContent-Length: 1235.5\r\n", true, 1236},
        {"HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n", true, 2147483647},
        {"HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n", false, 0},
    };
    for (const auto& c : cases) {
        Harness h;
        h.script.header = "HTTP/1.1 200 OK\r\nContent-Length: 77\r\n";
        h.dl->GetFileInformation();
        h.log->events.clear();
        h.script.header = c.header;
        h.dl->GetFileInformation();
        EXPECT_EQ(h.dl->FileExists(), VTrue) << c.header;
        EXPECT_EQ(h.dl->ResumeSupported(), VTrue) << c.header;
        if (c.ok) {
            EXPECT_EQ(h.dl->FileSize(), c.size) << c.header;
        } else {
            EXPECT_EQ(h.dl->FileSize(), 77) << c.header;  // keeps its earlier value
            EXPECT_EQ(h.log->events, concat({kStart, kAccepted}, kErrorExit)) << c.header;
        }
    }
}

TEST(Probe, AContentRangeTotalIsDigitsOnlyAndNeverSaturates) {
    // A 206 to the probe stands for the whole file only when its range says so exactly: a sign,
    // a blank or a number too large to hold is a malformed answer, not a number read past.
    struct Case {
        const char* range;
        bool whole;
    };
    const Case cases[] = {
        {"bytes 0-5/6", true},
        {"bytes 0-5/+6", false},
        {"bytes +0-5/6", false},
        {"bytes 0-+5/6", false},
        {"bytes -0-5/6", false},
        {"bytes 0-5/ 6", false},
        {"bytes 0- 5/6", false},
        {"bytes  0-5/6", false},
        {"bytes0-5/6", false},
        {"bytes 0-5/6x", false},
        {"bytes 0-5/*", false},
        {"bytes 0-5/5", false},
        {"bytes 0-5/99999999999999999999", false},
    };
    for (const auto& c : cases) {
        Harness h;
        h.script.header = std::string("HTTP/1.1 206 Partial Content\r\nContent-Range: ") + c.range +
                          "\r\nContent-Length: 6\r\n";
        h.dl->GetFileInformation();
        EXPECT_EQ(h.dl->FileExists(), c.whole ? VTrue : VFalse) << c.range;
        EXPECT_EQ(h.dl->FileSize(), c.whole ? 6 : 0) << c.range;
        if (!c.whole) {
            EXPECT_EQ(h.log->events, concat({kStart, kAccepted}, kErrorExit)) << c.range;
        }
    }
    // The edges of what a total may hold.
    long long first = -1, last = -1, total = -1;
    EXPECT_TRUE(DownLoad::parseContentRange("bytes 0-0/1", first, last, total));
    EXPECT_EQ(total, 1);
    EXPECT_TRUE(DownLoad::parseContentRange("bytes 0-9223372036854775806/9223372036854775807",
                                            first, last, total));
    EXPECT_EQ(total, INT64_MAX);
    EXPECT_FALSE(DownLoad::parseContentRange("bytes 0-9223372036854775806/9223372036854775808",
                                             first, last, total));
    EXPECT_FALSE(DownLoad::parseContentRange("bytes 0-9223372036854775808/9223372036854775809",
                                             first, last, total));
}

TEST(Probe, OnlineCheckRunsOnlyWhenAskedAndRefusesBeforeAnyRequest) {
    Harness off;
    off.connection = {false, 0};
    off.dl->GetFileInformation();
    EXPECT_TRUE(off.log->named("ConnectionState").empty());
    EXPECT_EQ(off.dl->Connected(), VFalse);
    EXPECT_EQ(off.log->last("StatusChange"), "StatusChange\tInformações Recebidas!");

    Harness on;
    on.connection = {true, conn::Lan | conn::Proxy};
    on.dl->setOnlineCheck(VTrue);
    on.dl->GetFileInformation();
    EXPECT_EQ(on.dl->Connected(), VTrue);
    EXPECT_EQ(on.log->events[0], "ConnectionState\tConectado Via LAN.");
    EXPECT_EQ(on.log->events[1], "ConnectionState\tConectado Através de Proxy.");
    EXPECT_EQ(on.log->events[2], kStart);

    Harness offline;
    offline.connection = {false, conn::Modem};  // a modem that is not connected
    offline.dl->setOnlineCheck(VTrue);
    offline.log->onEach = [&](const std::string& e) {
        if (e.rfind("DLECode", 0) == 0) {
            EXPECT_EQ(offline.host.calls().size(), 1u);  // the box comes first
        }
    };
    offline.dl->GetFileInformation();
    EXPECT_EQ(offline.log->events,
              (Events{"ConnectionState\tConectado Via Modem.", "DLECode\t5",
                      "DLError\tConexão com a Internet não encontrada!",
                      "StatusChange\tNão há Conexão ativa com a Internet!"}));
    ASSERT_EQ(offline.host.calls().size(), 1u);
    EXPECT_EQ(offline.host.calls()[0].style & mb::ButtonMask, mb::OkOnly);
    EXPECT_EQ(offline.dl->Connected(), VFalse);
    EXPECT_TRUE(offline.transfer->calls.empty());  // no request sent
}

TEST(Probe, ACancelDuringTheWaitEndsItButAStaleOneIsForgotten) {
    Harness h;
    h.script.executingPolls = 5;
    h.host.onYield(2, [&] { h.dl->Cancel(); });
    h.dl->GetFileInformation();
    EXPECT_EQ(h.log->events, (Events{kStart, "StatusChange\tCancelando..", kAccepted, "DLECode\t4",
                                     "StatusChange\tCancelado."}));
    EXPECT_EQ(h.dl->ccancel(), VFalse);
    EXPECT_TRUE(h.transfer->isOpen());  // the request is left open
    EXPECT_EQ(h.dl->FileExists(), VFalse);

    Harness stale;
    stale.dl->Cancel();
    stale.log->events.clear();
    stale.dl->GetFileInformation();
    EXPECT_EQ(stale.log->last("StatusChange"), "StatusChange\tInformações Recebidas!");
    EXPECT_EQ(stale.dl->ccancel(), VFalse);
}

TEST(Probe, AComponentFailureEndsInTheErrorExit) {
    Harness h;
    h.script.failExecute = true;
    h.dl->GetFileInformation();
    EXPECT_EQ(h.log->events, kErrorExit);
}
