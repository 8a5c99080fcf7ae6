// What the window makes of dl1's events: the comparison of the installed and the offered
// version, the failure display with its advice, and the status line.

#include <gtest/gtest.h>

#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

#include <chrono>
#include <fstream>

#include "../verify/Release.h"
#include "FailureTexts.h"
#include "HttpTestServer.h"
#include "TypeLib.h"
#include "WizardHarness.h"
#include "automation/ComError.h"

using namespace veltrup;
using namespace veltrup::test;
namespace ev = carvo::eventid;

namespace {

const char* kUpToDateText =
    "O Programa determinou que você possui a versão mais atual do Parvix 2002. Sendo assim, você "
    "não precisa de nenhuma Atualização. Clique os botões 'Finalizar' ou 'Sair' para encerrar o "
    "programa.";
const char* kNewVersionText =
    "O programa determinou que existe uma versão mais atualizada do Parvix 2002 disponível. "
    "Clique o botão Avançar para iniciar o download!";

QString q(const char* s) { return QString::fromUtf8(s); }

// A window on panel 1 whose dl1 "saved" the given version file and then raises events.
struct Checked {
    explicit Checked(const char* registryLine, const char* versionLines,
                     std::function<void(FakeControl&)> events) {
        if (registryLine) w.setInstalled(registryLine);
        if (versionLines) w.writeVersionFile(versionLines);
        w.open();
        w.dl1->onDownLoad = [this, events] { events(*w.dl1); };
        w.press();
    }
    Wizard w;
};

void complete(FakeControl& c) { c.fire(ev::DLComplete); }

}  // namespace

TEST(VeltrupVersionCheck, ComparisonCases) {
    struct Row {
        const char* name;
        const char* installed;  // registry line, or nullptr for no record at all
        const char* offered;    // version file body, or nullptr for no file
        int step;
        bool resultShown;
        const char* title;
        const char* button;
        bool enabled;
        const char* lastVer;
    };
    const Row rows[] = {
        {"2 vs 3", "\"Version\"=\"2\"", "Version=3\r\n", 1, true, "Nova Versão Disponível!", "&Avançar >>", true, "Última Versão Disponível: 3"},
        {"3 vs 3", "\"Version\"=\"3\"", "Version=3\r\n", 3, true, "Sua Versão Está Atualizada!", "&Finalizar", true, "Última Versão Disponível: 3"},
        {"4 vs 3: a server behind is nothing newer", "\"Version\"=\"4\"", "Version=3\r\n", 3, true, "Sua Versão Está Atualizada!", "&Finalizar", true, "Última Versão Disponível: 3"},
        {"nothing vs nothing", nullptr, "File=x\r\n", 3, true, "Sua Versão Está Atualizada!", "&Finalizar", true, "Última Versão Disponível: 0.0"},
        {"no record vs no file", nullptr, nullptr, 3, true, "Sua Versão Está Atualizada!", "&Finalizar", true, "Última Versão Disponível: 0.0"},
        {"REG_DWORD 2 vs 2", "\"Version\"=dword:00000002", "Version=2\r\n", 3, true, "Sua Versão Está Atualizada!", "&Finalizar", true, "Última Versão Disponível: 2"},
        {"REG_DWORD -1 vs 0", "\"Version\"=dword:ffffffff", "Version=0\r\n", 1, true, "Nova Versão Disponível!", "&Avançar >>", true, "Última Versão Disponível: 0"},
        {"\"2.0\" with its NUL vs 2", "\"Version\"=\"2.0\"", "Version=2\r\n", 3, true, "Sua Versão Está Atualizada!", "&Finalizar", true, "Última Versão Disponível: 2"},
        {"2.5 rounds to even 2", "\"Version\"=\"2.5\"", "Version=2\r\n", 3, true, "Sua Versão Está Atualizada!", "&Finalizar", true, "Última Versão Disponível: 2"},
        {"3.5 rounds to even 4", "\"Version\"=\"3.5\"", "Version=4\r\n", 3, true, "Sua Versão Está Atualizada!", "&Finalizar", true, "Última Versão Disponível: 4"},
        {"offered 2.6 is 3", "\"Version\"=\"2\"", "Version=2.6\r\n", 1, true, "Nova Versão Disponível!", "&Avançar >>", true, "Última Versão Disponível: 2.6"},
        {"signed comparison", "\"Version\"=\"-5\"", "Version=-4\r\n", 1, true, "Nova Versão Disponível!", "&Avançar >>", true, "Última Versão Disponível: -4"},
    };
    // The user's locale has no say: "." is the decimal point everywhere.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Checked c(row.installed, row.offered, complete);
        frmMain& f = *c.w.form;
        EXPECT_EQ(f.intStep(), row.step);
        EXPECT_EQ(f.lblNewVerTit->isVisible(), row.resultShown);
        EXPECT_EQ(f.lblNewVer->isVisible(), row.resultShown);
        EXPECT_EQ(f.lblNewVerTit->text(), q(row.title));
        EXPECT_EQ(f.lblNewVer->text(), q(row.step == 3 ? kUpToDateText : kNewVersionText));
        EXPECT_EQ(f.cmdAvancar->text(), q(row.button));
        EXPECT_EQ(f.cmdAvancar->isEnabled(), row.enabled);
        EXPECT_EQ(f.lblLastVer->text(), q(row.lastVer));
        EXPECT_EQ(f.lblLastVer->geometry().right() + 1, 345);  // right edge kept at 5175
        EXPECT_FALSE(f.lblErrorTit->isVisible());
        if (row.step == 3) {  // "&Finalizar" ends the program; nothing was downloaded
            c.w.press();
            EXPECT_EQ(c.w.ended, 1);
            for (const std::string& call : c.w.calls) EXPECT_FALSE(call.starts_with("dl2")) << call;
        }
    }
    QLocale::setDefault(before);
}

TEST(VeltrupVersionCheck, AnOfferedVersionThatIsNotAWholeNumberIsAFailedCheck) {
    const char* bad[] = {"Version=\r\n", "Version=três\r\n", "Version=2,5\r\n", "Version=1.2.3\r\n",
                         "Version=2147483648\r\n", "Version=-2147483649\r\n", "Version=1e10\r\n"};
    for (const char* file : bad) {
        SCOPED_TRACE(file);
        Checked c("\"Version\"=\"2\"", file, complete);
        frmMain& f = *c.w.form;
        EXPECT_EQ(f.intStep(), 0);
        EXPECT_TRUE(f.lblErrorTit->isVisible());
        EXPECT_EQ(f.lblError->text(),
                  q("O arquivo de versão recebido não informa uma versão válida e foi apagado."));
        EXPECT_EQ(f.lblWhatToDo->text().toStdString(), kAdviceServerLater);
        EXPECT_TRUE(f.cmdAvancar->isEnabled());  // the user may retry
        EXPECT_FALSE(f.lblNewVerTit->isVisible());
        EXPECT_FALSE(fs::exists(c.w.folder / "Update.ini"));
    }
    // The edges of the range are whole numbers.
    EXPECT_EQ(versionFromText("2147483647"), 2147483647);
    EXPECT_EQ(versionFromText("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(versionFromText(std::string("7\0garbage", 9)), 7);
    EXPECT_EQ(versionFromText(" 4 "), 4);
    EXPECT_EQ(installedVersionNumber(carvo::regerr::FileNotFound, carvo::Variant()), 0);
    EXPECT_EQ(installedVersionNumber(0, carvo::Variant(std::string("2.0\0", 4))), 2);
    EXPECT_EQ(installedVersionNumber(0, carvo::Variant(std::int32_t{-1})), -1);
}

TEST(VeltrupVersionCheck, EachFailureCodeShowsItsFourLabelsAndAllowsARetry) {
    for (const FailureRow& row : kFailureRows) {
        SCOPED_TRACE(row.code);
        Checked c("\"Version\"=\"2\"", "Version=3\r\n",
                  [&](FakeControl& dl) { dl.fire(ev::DLECode, row.code); });
        frmMain& f = *c.w.form;
        EXPECT_EQ(f.lblErrorTit->text(), q(row.title));
        EXPECT_EQ(f.lblError->text(), q(row.text));
        EXPECT_EQ(f.lblWhatToDoTit->text(), q("O Que Fazer:"));
        EXPECT_EQ(f.lblWhatToDo->text(), q(row.advice));
        for (QWidget* l : {static_cast<QWidget*>(f.lblErrorTit), static_cast<QWidget*>(f.lblError),
                           static_cast<QWidget*>(f.lblWhatToDoTit), static_cast<QWidget*>(f.lblWhatToDo)})
            EXPECT_TRUE(l->isVisible()) << l->objectName().toStdString();
        EXPECT_EQ(f.lblErrorTit->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        EXPECT_TRUE(f.cmdAvancar->isEnabled());
        EXPECT_EQ(f.intStep(), 0);
    }
}

TEST(VeltrupVersionCheck, CodesOutsideTheTableChangeNothing) {
    for (int code : {0, 6, 7, 404, -1}) {
        SCOPED_TRACE(code);
        Checked c("\"Version\"=\"2\"", "Version=3\r\n",
                  [&](FakeControl& dl) { dl.fire(ev::DLECode, code); });
        frmMain& f = *c.w.form;
        EXPECT_FALSE(f.lblErrorTit->isVisible());
        EXPECT_FALSE(f.lblError->isVisible());
        EXPECT_FALSE(f.lblWhatToDo->isVisible());
        EXPECT_EQ(f.lblError->text(), q("Não foi possível...."));
        EXPECT_FALSE(f.cmdAvancar->isEnabled());
        EXPECT_EQ(f.intStep(), 0);
    }
}

TEST(VeltrupVersionCheck, EachEventActsAloneALaterOneOverridesOrAddsToAnEarlierOne) {
    {
        SCOPED_TRACE("a second code replaces the first");
        Checked c("\"Version\"=\"2\"", "Version=3\r\n", [](FakeControl& dl) {
            dl.fire(ev::DLECode, 2);
            dl.fire(ev::DLECode, 5);
        });
        EXPECT_EQ(c.w.form->lblError->text(), q("Não foi detectada conexão com a Internet!"));
        EXPECT_EQ(c.w.form->lblWhatToDo->text(),
                  q("Você deve se conectar a Internet, e em seguida clicar o botão 'Avançar'."));
    }
    {
        SCOPED_TRACE("a completion after a failure compares as usual");
        Checked c("\"Version\"=\"2\"", "Version=3\r\n", [](FakeControl& dl) {
            dl.fire(ev::DLECode, 1);
            dl.fire(ev::DLComplete);
        });
        frmMain& f = *c.w.form;
        EXPECT_TRUE(f.lblErrorTit->isVisible());
        EXPECT_TRUE(f.lblNewVerTit->isVisible());
        EXPECT_EQ(f.intStep(), 1);
        EXPECT_TRUE(f.cmdAvancar->isEnabled());
    }
}

TEST(VeltrupVersionCheck, StatusTextsAreShownExactlyAndProgressFiguresAreNot) {
    Checked c("\"Version\"=\"2\"", "Version=3\r\n", [](FakeControl& dl) {
        dl.fire(ev::StatusChange, carvo::Variant("Puxando Arquivos..."));
        dl.fire(ev::RecievedBytes, 512);
        dl.fire(ev::Percent, 50);
        dl.fire(ev::Rate, carvo::Variant("1 KB/s"));
        dl.fire(ev::DLError, carvo::Variant("Erro ao puxar arquivo"));
    });
    frmMain& f = *c.w.form;
    EXPECT_EQ(f.lblStatus->text(), "Puxando Arquivos...");
    EXPECT_EQ(f.lblStatus->geometry().left(), 8);
    EXPECT_EQ(f.lblStatus->width(), QFontMetrics(f.lblStatus->font()).horizontalAdvance("Puxando Arquivos..."));
    EXPECT_EQ(f.lblDLReceived->text(), "Recebido:");
    EXPECT_EQ(f.lblDLPercent->text(), QString::fromUtf8("Porcentagem Concluída:"));
    EXPECT_EQ(f.lblDLRate->text(), "Velocidade:");
    EXPECT_EQ(f.pb1->value(), 0);
    EXPECT_FALSE(f.lblErrorTit->isVisible());  // the text event is not a failure display
}

namespace {

void expectFailure(frmMain& f, const FailureTexts& texts) {
    EXPECT_EQ(f.intStep(), 0);
    EXPECT_EQ(f.lblErrorTit->text().toStdString(), texts.title);
    EXPECT_EQ(f.lblError->text().toStdString(), texts.text);
    EXPECT_EQ(f.lblWhatToDo->text().toStdString(), texts.advice);
    EXPECT_TRUE(f.lblError->isVisible() && f.cmdAvancar->isEnabled());  // a retry is offered
    EXPECT_FALSE(f.lblNewVerTit->isVisible());
}

}  // namespace

TEST(VeltrupVersionCheck, AVersionFileStreamingPastTheCapIsStoppedAtOnePieceAndDeleted) {
    // As the real control writes: a piece of CHUNK bytes, its report, then a look for a
    // cancel. The window cancels at the first report past the cap, so the disk holds at most
    // the cap plus one piece, and then nothing. (A length announced past the cap is refused at
    // the probe: the signed test below.)
    Wizard w;
    w.open();
    bool cancelled = false;
    std::uintmax_t largest = 0;
    w.dl1->onCancel = [&] { cancelled = true; };
    w.dl1->onDownLoad = [&] {
        std::ofstream out(w.folder / "Update.ini", std::ios::binary);
        std::int32_t at = 0;
        while (!cancelled) {  // set from inside the event, by the window's cancel
            out << std::string(1024, ';') << std::flush;
            largest = fs::file_size(w.folder / "Update.ini");
            w.dl1->fire(ev::RecievedBytes, at += 1024);
        }
        w.dl1->fire(ev::DLECode, 4);
        w.dl1->fire(ev::StatusChange, carvo::Variant("Cancelado."));
    };
    w.press();
    EXPECT_EQ(largest, kMaxVersionFileBytes + 1024u);
    expectFailure(*w.form, kVersionFileTooLargeTexts);
    EXPECT_EQ(w.form->lblStatus->text().toStdString(), kVersionRefusedStatus);
    EXPECT_FALSE(fs::exists(w.folder / "Update.ini"));
}

TEST(VeltrupVersionCheck, OnlyAFreshSignedVersionFileIsBelievedFromTheFirstAddressServingOne) {
    Release release;  // the maker's keys; version 3 of setup.bin
    const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    auto signedFile = [&](std::chrono::minutes validFor) {
        maker::SignOptions options;
        options.expires = now + validFor;
        return "[MAIN]\r\nFile=http://127.0.0.1:1/setup.bin\r\n" + release.sign(options).text();
    };
    // Expired past the hour allowed for a clock that runs ahead.
    const std::string fresh = signedFile(std::chrono::hours(24)), expired = signedFile(std::chrono::minutes(-61));
    std::string altered = fresh;  // a Version that is not the signed one
    altered.replace(altered.find("Version=3"), 9, "Version=4");
    const std::string down = "503", cut = "cut", huge = "huge";
    struct Row {
        const char* name;
        std::vector<std::string> served;  // what each address serves, in order
        const FailureTexts* refusal;      // shown once every address failed; nullptr: offered
    };
    for (const Row& row : {Row{"fresh", {fresh}, nullptr},
                           Row{"expired", {expired}, &kExpiredVersionFileTexts},
                           Row{"Version changed after signing", {altered}, &kBadSignatureTexts},
                           Row{"announced past the cap", {huge}, &kVersionFileTooLargeTexts},
                           Row{"first down", {down, fresh}, nullptr},
                           Row{"first breaks off", {cut, fresh}, nullptr},
                           Row{"first badly signed", {altered, fresh}, nullptr},
                           Row{"every address fails", {down, huge, expired}, &kExpiredVersionFileTexts}}) {
        SCOPED_TRACE(row.name);
        carvo::test::HttpTestServer server;
        const std::size_t n = row.served.size();
        std::string more = "PublicKey=" + release.keys.publicKey + "\r\n";
        for (std::size_t i = 1; i <= n; ++i) {
            const std::string& kind = row.served[i - 1];
            carvo::test::Response r;
            r.body = kind == cut || kind == huge ? fresh : kind;
            if (kind == down) r.statusLine = "HTTP/1.1 503 Service Unavailable";
            if (kind == cut) r.dropAfter = 100;
            if (kind == huge) r.headers = {{"Content-Length", "1000000000"}};
            server.route("/v" + std::to_string(i), r);
            if (i > 1) more += "UpdateFile" + std::to_string(i) + "=" + server.url("/v" + std::to_string(i)) + "\r\n";
        }
        Wizard w;
        w.liveControls = w.host.processQtEvents = true;
        w.host.useRealClock(true);
        w.setInstalled("\"Version\"=\"2\"");
        w.writeLinks(server.url("/v1"), more);
        w.open();
        w.press();
        frmMain& f = *w.form;
        const auto asked = server.requests();
        ASSERT_EQ(asked.size(), n);
        for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(asked[i].target, "/v" + std::to_string(i + 1));
        if (!row.refusal) {
            EXPECT_EQ(f.intStep(), 1);
            EXPECT_EQ(loadBytes(w.folder / "Update.ini"), fresh);
            const std::string server2 = n > 1 ? "Servidor 2 de 2: " : "";
            EXPECT_EQ(f.lblStatus->text().toStdString(), server2 + "Download Concluído!");
            continue;
        }
        expectFailure(f, *row.refusal);
        EXPECT_EQ(f.lblStatus->text().toStdString(), kVersionRefusedStatus);
        EXPECT_FALSE(fs::exists(w.folder / "Update.ini"));
        w.press();  // a retry starts over at the first address
        EXPECT_EQ(server.requests().at(n).target, "/v1");
    }
}

TEST(VeltrupVersionCheck, LocalCausesStopTheCheckWithTextsOfTheirOwn) {
    // A signed version 3 is on offer. An installed version that cannot be read or compared
    // never counts as nothing installed; a cause on this computer is never blamed on the
    // Internet; a refused name or an oversize file never reaches the next step.
    Release release;
    auto record = [](const char* v) { return [v](Wizard& w) { w.setInstalled(std::string("\"Version\"=") + v); }; };
    auto grow = [](const char* file, std::uintmax_t size) { return [=](Wizard& w) { fs::resize_file(w.folder / file, size); }; };
    const FailureTexts* unreadable = &kInstalledVersionUnreadableTexts;
    struct Row {
        const char* name;
        std::function<void(Wizard&)> prepare;
        const FailureTexts* refusal;  // nullptr: version 3 is offered
        bool probed = true;
    };
    const Row rows[] = {
        {"nothing installed", [](Wizard& w) { fs::remove(w.registry); }, nullptr},
        {"installed 2", record("\"2\""), nullptr},
        {"5.0.1", record("\"5.0.1\""), unreadable}, {"5,1", record("\"5,1\""), unreadable},
        {"v5", record("\"v5\""), unreadable}, {"99999999999", record("\"99999999999\""), unreadable},
        {"bytes", record("hex:05,00,00,00"), unreadable},
        {"a FIFO as the store", [](Wizard& w) { fs::remove(w.registry); ::mkfifo(w.registry.c_str(), 0600); }, unreadable},
        {"a store over its limit", grow("registry.reg", (64u << 20) + 1), unreadable},
        {"links.ini over the reader's limit", grow("links.ini", (4u << 20) + 1), &kLinksFileUnreadableTexts, false},
        {"a link at Update.ini", [](Wizard& w) { fs::remove(w.folder / "Update.ini"); fs::create_symlink("links.ini", w.folder / "Update.ini"); }, &kVersionFileBlockedTexts, false},
        {"unsigned, a Shell that is a path", [](Wizard& w) { w.writeLinks("x"); w.writeVersionFile("Version=3\r\nShell=../x\r\n"); }, &kUnsafeNameTexts},
        {"Update.ini past the cap", grow("Update.ini", kMaxVersionFileBytes + 1), &kVersionFileTooLargeTexts},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Wizard w;
        w.setInstalled("\"Version\"=\"2\"");
        w.writeVersionFile("File=x\r\n" + release.lines.text());
        w.writeLinks("x", "PublicKey=" + release.keys.publicKey + "\r\n");
        row.prepare(w);
        w.open();
        w.dl1->onDownLoad = [&] { w.dl1->fire(ev::DLComplete); };
        w.press();
        if (!row.refusal) {
            EXPECT_EQ(w.form->intStep(), 1);
            continue;
        }
        expectFailure(*w.form, *row.refusal);
        EXPECT_EQ(std::count(w.calls.begin(), w.calls.end(), "dl1 GetFileInformation"), row.probed);
        w.press();  // a retry: still never offered, nothing downloaded
        EXPECT_NE(w.form->intStep(), 1);
        for (const std::string& call : w.calls) EXPECT_FALSE(call.starts_with("dl2")) << call;
    }
}
