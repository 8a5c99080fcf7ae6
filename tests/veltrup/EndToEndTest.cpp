// The whole update with everything real but the person: the window with two real DownLoad
// controls created by class identifier, a loopback web server holding the version file and
// an installer script, a program folder with links.ini, a registry store with the installed
// version, and the real start of the installer. The test presses the buttons.

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <atomic>

#include "HttpTestServer.h"
#include "NginxServer.h"
#include "TypeLib.h"
#include "InstallerCopy.h"
#include "WizardHarness.h"

using namespace veltrup;
using namespace veltrup::test;
namespace fs = std::filesystem;
namespace ev = carvo::eventid;

namespace {

// An installer that shows it ran, padded so that it arrives in a few hundred pieces.
std::string installerScript() {
    std::string s =
        "#!/bin/sh\n"
        "echo \"Parvix 2002 v3 instalado\" > installed.txt\n"
        "exit 0\n";
    for (int i = 0; s.size() < 300 * 1024; ++i)
        s += "# " + std::to_string(i) + " Parvix 2002 v3 - dados do instalador\n";
    return s;
}

std::string versionFile(const std::string& installerUrl, int version = 3) {
    return "[MAIN]\r\nVersion=" + std::to_string(version) + "\r\nFile=" + installerUrl +
           "\r\nShell=setup.sh\r\n";
}

// Watches dl2 after the window's own handlers: what the person saw at each event.
class Figures : public carvo::EventSink {
public:
    explicit Figures(frmMain& form) : form_(form) {}
    void onEvent(carvo::DispId id, std::span<carvo::Variant>) override {
        if (id == ev::RecievedBytes) {
            bars.push_back(form_.pb1->value());
            received.push_back(form_.lblDLReceived->text());
        }
        if (id == ev::Percent) percents.push_back(form_.lblDLPercent->text());
        if (id == ev::Rate) rates.push_back(form_.lblDLRate->text());
        if (id == ev::StatusChange) statuses.push_back(form_.lblStatus2->text());
    }
    std::vector<int> bars;
    std::vector<QString> received, percents, rates, statuses;

private:
    frmMain& form_;
};

// The failure codes a control raised, in order.
class Codes : public carvo::EventSink {
public:
    void onEvent(carvo::DispId id, std::span<carvo::Variant> args) override {
        if (id == ev::DLECode && !args.empty()) seen.push_back(args[0].toLong());
    }
    std::vector<std::int32_t> seen;
};

class VeltrupEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        w.liveControls = true;
        w.host.useRealClock(true);
        w.host.processQtEvents = true;
        const std::string folder = w.folderPath();
        w.launcher = [folder](const std::string& path) { return startInstaller(path, folder); };
    }

    // Opens the window and watches dl2.
    void open() {
        w.open();
        auto& control = dynamic_cast<carvo::OleControl&>(w.form->dl2());
        figures = std::make_shared<Figures>(*w.form);
        control.connectionPoint().advise(figures);
    }

    // The site served by nginx: Update.ini and the installer under /pacotes.
    void publish(const carvo::test::NginxServer& server, int version = 3) {
        fs::create_directories(site / "pacotes");
        carvo::test::storeBytes(site / "pacotes" / "setup.sh", installer);
        carvo::test::storeBytes(site / "Update.ini",
                                versionFile(server.url("/pacotes/setup.sh"), version));
    }

    frmMain& f() { return *w.form; }
    std::string saved() { return carvo::test::loadBytes(w.folder / "setup.sh"); }

    Wizard w;
    carvo::test::ScratchFolder site{"veltrup-site"};
    const std::string installer = installerScript();
    std::shared_ptr<Figures> figures;
};

#define NEED_NGINX() \
    if (!carvo::test::NginxServer::available()) GTEST_SKIP() << "nginx is not installed"

}  // namespace

TEST_F(VeltrupEndToEnd, AnUpdateIsOfferedDownloadedWithMovingFiguresAndInstalled) {
    NEED_NGINX();
    carvo::test::NginxServer server({.root = site.path()});
    publish(server);
    w.writeLinks(server.url("/Update.ini"));
    w.setInstalled("\"Version\"=\"2.0\"");
    open();
    EXPECT_EQ(f().lblVerAtual->text(), QString::fromUtf8("Versão Atual: 2.0"));

    w.press();  // the version check
    EXPECT_EQ(f().intStep(), 1);
    EXPECT_TRUE(f().lblNewVerTit->isVisible());
    EXPECT_EQ(f().lblLastVer->text(), QString::fromUtf8("Última Versão Disponível: 3"));
    EXPECT_EQ(f().lblVersion2->text(), QString::fromUtf8("Sua Versão: 2.0"));
    EXPECT_EQ(f().lblStatus->text(), QString::fromUtf8("Download Concluído!"));
    EXPECT_EQ(carvo::test::loadBytes(w.folder / "Update.ini"),
              carvo::test::loadBytes(site / "Update.ini"));
    EXPECT_TRUE(f().cmdAvancar->isEnabled());
    saveScreen(f(), "e2e-1-offered");

    w.press();  // the update download
    EXPECT_EQ(f().intStep(), 2);
    EXPECT_TRUE(f().lblDLFinishTit->isVisible());
    EXPECT_FALSE(f().lblErrorTit2->isVisible());
    EXPECT_EQ(saved(), installer);  // byte for byte
    const int size = static_cast<int>(installer.size());
    EXPECT_EQ(f().pb1->maximum(), size);
    ASSERT_GT(figures->bars.size(), 100u);
    EXPECT_TRUE(std::is_sorted(figures->bars.begin(), figures->bars.end()));
    EXPECT_LT(figures->bars.front(), figures->bars.back());
    EXPECT_EQ(figures->bars.back(), size);
    EXPECT_EQ(figures->received.front(), QString("Recebido: 1024/%1").arg(size));
    EXPECT_EQ(figures->received.back(), QString("Recebido: %1/%1").arg(size));
    EXPECT_EQ(figures->percents.back(), QString::fromUtf8("Porcentagem Concluída: 100%"));
    EXPECT_TRUE(figures->rates.back().startsWith("Velocidade: "));
    EXPECT_GT(figures->rates.back().size(), QString("Velocidade: ").size());
    EXPECT_TRUE(f().lblDLTimeLeft->text().startsWith("Tempo Restante: "));
    EXPECT_EQ(f().lblStatus2->text(), QString::fromUtf8("Download Concluído!"));
    // Read as any Qt code reads them, before the event loop runs again.
    EXPECT_EQ(static_cast<QLabel*>(f().lblDLReceived)->text(), figures->received.back());
    EXPECT_EQ(static_cast<QProgressBar*>(f().pb1)->value(), size);
    saveScreen(f(), "e2e-2-downloaded");

    w.press();  // the install panel
    EXPECT_EQ(f().intStep(), 4);
    EXPECT_EQ(f().txtInstallPath->toPlainText().toStdString(), w.folderPath() + "/setup.sh");
    saveScreen(f(), "e2e-3-install");

    w.press();  // the hand-off
    EXPECT_EQ(w.ended, 1);
    ASSERT_TRUE(waitFor([&] { return fs::exists(w.folder / "installed.txt"); }));
    EXPECT_TRUE(waitFor([&] {
        return carvo::test::loadBytes(w.folder / "installed.txt") == "Parvix 2002 v3 instalado\n";
    }));
    EXPECT_TRUE(boxes(w.host).empty());
}

TEST_F(VeltrupEndToEnd, TheInstalledVersionIsCurrent) {
    NEED_NGINX();
    carvo::test::NginxServer server({.root = site.path()});
    publish(server);
    w.writeLinks(server.url("/Update.ini"));
    w.setInstalled("\"Version\"=dword:00000003");
    open();
    w.press();
    EXPECT_EQ(f().lblNewVerTit->text(), QString::fromUtf8("Sua Versão Está Atualizada!"));
    EXPECT_TRUE(f().lblNewVerTit->isVisible());
    EXPECT_EQ(f().cmdAvancar->text(), "&Finalizar");
    EXPECT_TRUE(f().cmdAvancar->isEnabled());
    EXPECT_EQ(f().intStep(), 3);
    saveScreen(f(), "e2e-up-to-date");
    w.press();
    EXPECT_EQ(w.ended, 1);
    EXPECT_FALSE(fs::exists(w.folder / "setup.sh"));
}

TEST_F(VeltrupEndToEnd, AMissingVersionFileIsAFailureAndARetryFindsItOnceItIsThere) {
    NEED_NGINX();
    carvo::test::NginxServer server({.root = site.path()});
    w.writeLinks(server.url("/Update.ini"));
    w.setInstalled("\"Version\"=\"2\"");
    open();
    auto codes = std::make_shared<Codes>();
    dynamic_cast<carvo::OleControl&>(f().dl1()).connectionPoint().advise(codes);
    w.press();
    // The probe reports the 404 and the wizard, with nothing to fetch, runs no transfer that
    // would replace that reason with a vaguer one.
    EXPECT_EQ(codes->seen, (std::vector<std::int32_t>{2}));
    EXPECT_EQ(f().intStep(), 0);
    EXPECT_TRUE(f().lblErrorTit->isVisible());
    EXPECT_TRUE(f().lblError->isVisible());
    EXPECT_TRUE(f().lblWhatToDo->isVisible());
    EXPECT_EQ(f().lblError->text(), QString::fromUtf8("O Arquivo não foi encontrado no servidor."));
    EXPECT_TRUE(f().cmdAvancar->isEnabled());
    EXPECT_FALSE(f().lblNewVerTit->isVisible());
    EXPECT_FALSE(fs::exists(w.folder / "Update.ini"));
    saveScreen(f(), "e2e-not-found");

    publish(server);
    w.press();
    EXPECT_EQ(f().intStep(), 1);
    EXPECT_FALSE(f().lblErrorTit->isVisible());
    EXPECT_TRUE(f().lblNewVerTit->isVisible());
}

TEST_F(VeltrupEndToEnd, ADownloadCancelledMidwayIsRestartedByTheNextPress) {
    carvo::test::HttpTestServer server;
    std::atomic<int> served{0};
    const std::string body = installer;
    carvo::test::Response update;
    update.body = versionFile(server.url("/setup.sh"));
    server.route("/Update.ini", update);
    server.route("/setup.sh", [&served, body](const carvo::test::Request& request) {
        carvo::test::Response r;
        r.body = body;
        // The first transfer trickles, so the person can cancel it midway.
        if (request.method == "GET" && served++ == 0) r.bytesPerSecond = 100 * 1024;
        return r;
    });
    w.writeLinks(server.url("/Update.ini"));
    w.setInstalled("\"Version\"=\"2\"");
    open();
    w.press();
    ASSERT_EQ(f().intStep(), 1);

    bool cancelled = false;
    w.host.everyYield([&] {
        if (!cancelled && f().pb1->value() > 0) {
            cancelled = true;
            w.host.answerBox(carvo::MsgBoxResult::Yes);
            f().cmdDLCancel->click();
        }
    });
    w.press();
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(f().lblErrorTit2->text(), "Download Cancelado!");
    EXPECT_EQ(f().lblWhatToDo2->text(),
              QString::fromUtf8("Você pode clicar o botão 'Avançar' para reiniciar o Download."));
    EXPECT_EQ(f().intStep(), 1);
    EXPECT_FALSE(f().cmdDLCancel->isEnabled());
    EXPECT_TRUE(f().cmdAvancar->isEnabled());
    EXPECT_LT(fs::file_size(w.folder / "setup.sh"), installer.size());
    EXPECT_LT(figures->bars.back(), static_cast<int>(installer.size()));
    EXPECT_TRUE(std::find(figures->statuses.begin(), figures->statuses.end(),
                          QString("Cancelando..")) != figures->statuses.end());
    saveScreen(f(), "e2e-cancelled");

    w.host.everyYield({});
    w.press();  // starts the download again from the beginning
    EXPECT_EQ(f().intStep(), 2);
    EXPECT_FALSE(f().lblErrorTit2->isVisible());
    EXPECT_TRUE(f().lblDLFinishTit->isVisible());
    EXPECT_EQ(saved(), installer);
}

TEST_F(VeltrupEndToEnd, WhileTheProductRunsNothingStartsOnceItIsClosedTheInstallerDoes) {
    NEED_NGINX();
    carvo::test::NginxServer server({.root = site.path()});
    publish(server);
    w.writeLinks(server.url("/Update.ini"));
    w.setInstalled("\"Version\"=\"2\"");
    w.windows.windows.push_back({7, "Parvix 2002 v2.0 - Clientes"});
    open();
    w.press();
    w.press();
    w.press();
    ASSERT_EQ(f().intStep(), 4);

    w.press();
    const auto shown = boxes(w.host);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text,
              "Erro! O Parvix 2002 está rodando em seu sistema. Feche-o e tente outra vez!");
    EXPECT_EQ(w.ended, 0);
    EXPECT_FALSE(fs::exists(w.folder / "installed.txt"));
    EXPECT_EQ(f().intStep(), 4);

    w.windows.windows.pop_back();
    w.press();
    EXPECT_EQ(w.ended, 1);
    EXPECT_TRUE(waitFor([&] { return fs::exists(w.folder / "installed.txt"); }));
}

TEST_F(VeltrupEndToEnd, ARetryGoesOnWithABrokenDownloadOrStartsOverWhenTheServerRefuses) {
    // With honourRange the server answers the resume's range with the rest of the file, else
    // with all of it (200), which the control refuses ("Resume Falhou."). A partial file that
    // is no longer the one the broken transfer left is not continued. A retry that finds the
    // server away (404) keeps the broken download for the next one.
    struct Row {
        bool honourRange, replaced, resumed, awayOnce = false;
    };
    for (const Row row : {Row{true, false, true}, Row{false, false, false}, Row{true, true, false},
                          Row{true, false, true, true}}) {
        const auto [honourRange, replaced, resumed, awayOnce] = row;
        SCOPED_TRACE(testing::Message() << honourRange << replaced << awayOnce);
        carvo::test::HttpTestServer server;
        carvo::test::Response update;
        update.body = versionFile(server.url("/setup.sh"));
        server.route("/Update.ini", update);
        const std::size_t brokenAt = 100 * 1024;
        auto served = std::make_shared<std::atomic<int>>(0);
        server.route("/setup.sh", [served, body = installer, row](const auto&) {
            carvo::test::Response r;
            r.body = body;
            r.honourRange = row.honourRange;
            r.headers = {{"ETag", "\"build-3\""}};  // one build throughout: a resume may ask
            const int n = (*served)++;
            if (n == 0) r.dropAfter = brokenAt;  // the first transfer breaks midway
            if (n == 1 && row.awayOnce) r.statusLine = "HTTP/1.1 404 Not Found";
            return r;
        });
        Wizard one;
        one.liveControls = one.host.processQtEvents = true;
        one.host.useRealClock(true);
        one.writeLinks(server.url("/Update.ini"));
        one.open();
        auto seen = std::make_shared<Figures>(*one.form);
        dynamic_cast<carvo::OleControl&>(one.form->dl2()).connectionPoint().advise(seen);
        one.press();
        one.press();
        ASSERT_EQ(one.form->lblError2->text(), QString::fromUtf8(kFailureRows[0].text));
        if (replaced) {
            const std::string partial = carvo::test::loadBytes(one.folder / "setup.sh");
            fs::remove(one.folder / "setup.sh");
            carvo::test::storeBytes(one.folder / "setup.sh", partial);
        }
        if (awayOnce) {
            one.press();
            ASSERT_EQ(one.form->intStep(), 1);
        }
        const std::size_t before = seen->bars.size();
        one.press();
        EXPECT_EQ(one.form->intStep(), 2);
        EXPECT_EQ(carvo::test::loadBytes(one.folder / "setup.sh"), installer);
        std::vector<std::string> ranges;
        for (const auto& r : server.requests())
            if (!r.header("Range").empty()) ranges.push_back(r.header("Range"));
        EXPECT_EQ(ranges.size(), replaced ? 0u : 1u);
        for (const auto& range : ranges) EXPECT_EQ(range, "bytes=" + std::to_string(brokenAt) + "-");
        // The bar goes on from where it stopped, or starts again from the first piece.
        ASSERT_GT(seen->bars.size(), before);
        EXPECT_EQ(seen->bars[before] > static_cast<int>(brokenAt), resumed);
    }
}
