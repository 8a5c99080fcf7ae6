// The wizard's steps: what each press of cmdAvancar does at each value of intStep, where every
// URL and path comes from, the retries, the checks before the hand-off, and the ways out.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <fstream>

#include "EndingSignals.h"
#include "MakerKeys.h"
#include "Program.h"
#include "TypeLib.h"
#include "WizardHarness.h"
#include "host/QtHost.h"

using namespace veltrup;
using namespace veltrup::test;
namespace ev = carvo::eventid;

namespace {

const char* kUpdate = "Version=3\r\nFile=http://127.0.0.1:1/pacotes/setup.sh\r\nShell=setup.sh\r\n";

class VeltrupSteps : public ::testing::Test {
protected:
    void SetUp() override {
        wizard.writeLinks("http://127.0.0.1:1/Update.ini");
        wizard.writeVersionFile(kUpdate);
        wizard.setInstalled("\"Version\"=\"2\"");
    }
    frmMain& form() { return *wizard.form; }
    std::string folder() { return wizard.folderPath(); }
    bool errorShown1() {
        return form().lblErrorTit->isVisibleTo(form().fraPos1) &&
               form().lblError->isVisibleTo(form().fraPos1) &&
               form().lblWhatToDoTit->isVisibleTo(form().fraPos1) &&
               form().lblWhatToDo->isVisibleTo(form().fraPos1);
    }
    bool errorShown2() {
        return form().lblErrorTit2->isVisibleTo(form().fraPos2) &&
               form().lblError2->isVisibleTo(form().fraPos2) &&
               form().lblWhatToDoTit2->isVisibleTo(form().fraPos2) &&
               form().lblWhatToDo2->isVisibleTo(form().fraPos2);
    }
    Wizard wizard;
};

}  // namespace

TEST_F(VeltrupSteps, BothControlsStartFromTheirDefaultsOnTheWindowsSite) {
    wizard.open();
    EXPECT_TRUE(wizard.dl1->initialised);
    EXPECT_TRUE(wizard.dl2->initialised);
    ASSERT_NE(wizard.dl1->site(), nullptr);
    EXPECT_EQ(wizard.dl1->site()->hostServices(), &wizard.host);
    EXPECT_EQ(wizard.dl1->connectionPoint().sinkCount(), 1u);
    EXPECT_EQ(wizard.dl2->connectionPoint().sinkCount(), 1u);
    EXPECT_EQ(form().intStep(), 0);
    EXPECT_TRUE(wizard.calls.empty());
}

TEST_F(VeltrupSteps, FirstPressShowsPanelOneAndChecksTheVersionFromTheLinksFile) {
    wizard.open();
    bool disabledDuringCheck = false;
    wizard.dl1->onProbe = [&] { disabledDuringCheck = !form().cmdAvancar->isEnabled(); };
    wizard.press();

    for (auto* l : form().lblWelcome) EXPECT_FALSE(l->isVisible());
    EXPECT_FALSE(form().lneWelcome->isVisible());
    EXPECT_FALSE(form().lblVerAtual->isVisible());
    EXPECT_TRUE(form().fraPos1->isVisible());
    EXPECT_EQ(form().fraPos1->pos(), QPoint(152, 0));  // Left 2280, Top 0
    EXPECT_EQ(form().lblVersion2->text(), QString::fromUtf8("Sua Versão: 2"));
    EXPECT_TRUE(disabledDuringCheck);
    EXPECT_FALSE(form().cmdAvancar->isEnabled());  // until dl1 reports
    EXPECT_EQ(form().intStep(), 0);
    const CallLog expected = {"dl1 put SaveLocation=" + folder() + "/Update.ini",
                              "dl1 put Url=http://127.0.0.1:1/Update.ini", "dl1 GetFileInformation",
                              "dl1 DownLoad"};
    EXPECT_EQ(wizard.calls, expected);
    saveScreen(form(), "1-checking");
}

// Each row: from a fresh window, events raised inside the first press (dl1) and, when the row
// gets that far, a second press (dl2); then the state the window is in.
TEST_F(VeltrupSteps, TransitionTable) {
    struct Row {
        const char* name;
        const char* installed;
        std::function<void(FakeControl&)> dl1Events;
        bool pressAgain;
        std::function<void(FakeControl&)> dl2Events;
        int step;
        bool enabled;
        const char* caption;
        const char* panel;
    };
    auto complete = [](FakeControl& c) { c.fire(ev::DLComplete); };
    auto code = [](int n) { return [n](FakeControl& c) { c.fire(ev::DLECode, n); }; };
    auto nothing = [](FakeControl&) {};
    const Row rows[] = {
        {"newer offered", "\"Version\"=\"2\"", complete, false, nothing, 1, true, "&Avançar >>", "fraPos1"},
        {"same version", "\"Version\"=\"3\"", complete, false, nothing, 3, true, "&Finalizar", "fraPos1"},
        {"older offered", "\"Version\"=\"4\"", complete, false, nothing, 0, false, "&Avançar >>", "fraPos1"},
        {"check failed", "\"Version\"=\"2\"", code(2), false, nothing, 0, true, "&Avançar >>", "fraPos1"},
        {"check code outside the table", "\"Version\"=\"2\"", code(6), false, nothing, 0, false, "&Avançar >>", "fraPos1"},
        {"download done", "\"Version\"=\"2\"", complete, true, complete, 2, true, "&Avançar >>", "fraPos2"},
        {"download failed", "\"Version\"=\"2\"", complete, true, code(403), 1, true, "&Avançar >>", "fraPos2"},
        {"download code outside the table", "\"Version\"=\"2\"", complete, true, code(7), 1, false, "&Avançar >>", "fraPos2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Wizard w;
        w.writeLinks("http://127.0.0.1:1/Update.ini");
        w.writeVersionFile(kUpdate);
        w.setInstalled(row.installed);
        w.open();
        w.dl1->onDownLoad = [&] { row.dl1Events(*w.dl1); };
        w.dl2->onDownLoad = [&] { row.dl2Events(*w.dl2); };
        w.press();
        if (row.pressAgain) w.press();
        EXPECT_EQ(w.form->intStep(), row.step);
        EXPECT_EQ(w.form->cmdAvancar->isEnabled(), row.enabled);
        EXPECT_EQ(w.form->cmdAvancar->text(), QString::fromUtf8(row.caption));
        for (const char* panel : {"fraPos1", "fraPos2", "fraPos3"})
            EXPECT_EQ(w.child(panel)->isVisible(), std::string(panel) == row.panel) << panel;
        EXPECT_EQ(w.ended, 0);
    }
}

TEST_F(VeltrupSteps, UpdateDownloadTakesItsNameAndAddressFromTheVersionFileAndSizesTheBar) {
    wizard.open();
    wizard.dl1->onDownLoad = [&] { wizard.dl1->fire(ev::DLComplete); };
    wizard.press();
    wizard.calls.clear();
    wizard.dl2->FileSize = 4096;
    bool cancelEnabledDuringDownload = false;
    bool cancelEnabledDuringProbe = true;
    wizard.dl2->onProbe = [&] { cancelEnabledDuringProbe = form().cmdDLCancel->isEnabled(); };
    wizard.dl2->onDownLoad = [&] {
        cancelEnabledDuringDownload = form().cmdDLCancel->isEnabled();
        EXPECT_EQ(form().pb1->maximum(), 4096);
        EXPECT_FALSE(form().cmdAvancar->isEnabled());
        wizard.dl2->fire(ev::DLComplete);
    };
    wizard.press();
    EXPECT_FALSE(form().fraPos1->isVisible());
    EXPECT_TRUE(form().fraPos2->isVisible());
    EXPECT_EQ(form().fraPos2->pos(), QPoint(152, 0));
    EXPECT_FALSE(cancelEnabledDuringProbe);
    EXPECT_TRUE(cancelEnabledDuringDownload);
    const CallLog expected = {"dl2 put SaveLocation=" + folder() + "/setup.sh",
                              "dl2 put Url=http://127.0.0.1:1/pacotes/setup.sh",
                              "dl2 GetFileInformation", "dl2 DownLoad"};
    EXPECT_EQ(wizard.calls, expected);
    EXPECT_TRUE(form().lblDLFinishTit->isVisible());
    EXPECT_FALSE(form().cmdDLCancel->isEnabled());
    EXPECT_EQ(form().intStep(), 2);
    saveScreen(form(), "2-downloaded");
}

TEST_F(VeltrupSteps, AZeroSizeFromTheProbeLeavesTheBarUsable) {
    wizard.open();
    wizard.dl1->onDownLoad = [&] { wizard.dl1->fire(ev::DLComplete); };
    wizard.press();
    wizard.dl2->FileSize = 0;
    wizard.dl2->onDownLoad = [&] { wizard.dl2->fire(ev::DLECode, 2); };
    wizard.press();
    EXPECT_GT(form().pb1->maximum(), form().pb1->minimum());
    EXPECT_TRUE(errorShown2());
    EXPECT_EQ(form().intStep(), 1);
}

TEST_F(VeltrupSteps, InstallPanelShowsTheInstallersFullPathWithFocus) {
    wizard.open();
    wizard.walkTo(4);
    EXPECT_FALSE(form().fraPos2->isVisible());
    EXPECT_TRUE(form().fraPos3->isVisible());
    EXPECT_EQ(form().fraPos3->pos(), QPoint(152, 0));
    EXPECT_EQ(form().cmdAvancar->text(), "&Instalar");
    EXPECT_TRUE(form().cmdAvancar->isEnabled());
    EXPECT_EQ(form().txtInstallPath->toPlainText().toStdString(), folder() + "/setup.sh");
    EXPECT_EQ(form().focusWidget(), form().txtInstallPath);
    EXPECT_EQ(form().intStep(), 4);
    saveScreen(form(), "3-install");

    // Enter in the path field is the default button's press, as anywhere in the window.
    QTest::keyClick(form().txtInstallPath, Qt::Key_Return);
    EXPECT_EQ(form().txtInstallPath->toPlainText().toStdString(), folder() + "/setup.sh");
    EXPECT_EQ(wizard.launched, std::vector<std::string>{folder() + "/setup.sh"});
    EXPECT_EQ(wizard.ended, 1);
}

TEST_F(VeltrupSteps, FinalizarEndsTheProgram) {
    wizard.setInstalled("\"Version\"=\"3\"");
    wizard.open();
    wizard.dl1->onDownLoad = [&] { wizard.dl1->fire(ev::DLComplete); };
    wizard.press();
    ASSERT_EQ(form().intStep(), 3);
    saveScreen(form(), "1-up-to-date");
    EXPECT_EQ(wizard.ended, 0);
    wizard.press();
    EXPECT_EQ(wizard.ended, 1);
    EXPECT_TRUE(wizard.launched.empty());
}

TEST_F(VeltrupSteps, RetryAfterAVersionCheckErrorStartsTheCheckAgainWithTheErrorAreaEmpty) {
    wizard.open();
    wizard.dl1->onDownLoad = [&] { wizard.dl1->fire(ev::DLECode, 1); };
    wizard.press();
    ASSERT_TRUE(errorShown1());
    ASSERT_TRUE(form().cmdAvancar->isEnabled());
    saveScreen(form(), "1-check-failed");
    wizard.calls.clear();

    bool errorsHiddenAtProbe = false;
    wizard.dl1->onProbe = [&] { errorsHiddenAtProbe = !errorShown1(); };
    wizard.dl1->onDownLoad = [&] { wizard.dl1->fire(ev::DLComplete); };
    wizard.press();
    EXPECT_TRUE(errorsHiddenAtProbe);
    EXPECT_EQ(wizard.calls.size(), 4u);  // SaveLocation, Url, probe, transfer again
    EXPECT_EQ(form().intStep(), 1);
    EXPECT_TRUE(form().fraPos1->isVisible());
    EXPECT_FALSE(form().lblVerAtual->isVisible());
}

TEST_F(VeltrupSteps, RetryAfterADownloadErrorSetsTheTargetAgainAndProbesAgain) {
    wizard.open();
    wizard.walkTo(1);
    wizard.dl2->onDownLoad = [&] { wizard.dl2->fire(ev::DLECode, 4); };
    wizard.press();
    ASSERT_TRUE(errorShown2());
    ASSERT_EQ(form().intStep(), 1);
    saveScreen(form(), "2-cancelled");
    wizard.calls.clear();

    bool errorsHiddenAtProbe = false;
    wizard.dl2->onProbe = [&] { errorsHiddenAtProbe = !errorShown2(); };
    wizard.dl2->onDownLoad = [&] { wizard.dl2->fire(ev::DLComplete); };
    wizard.press();
    EXPECT_TRUE(errorsHiddenAtProbe);
    const CallLog expected = {"dl2 put SaveLocation=" + folder() + "/setup.sh",
                              "dl2 put Url=http://127.0.0.1:1/pacotes/setup.sh",
                              "dl2 GetFileInformation", "dl2 DownLoad"};
    EXPECT_EQ(wizard.calls, expected);
    EXPECT_EQ(form().intStep(), 2);
}

TEST(VeltrupProgramFolder, IsTheExecutablesFolderWithASeparatorOnlyAtTheRoot) {
    EXPECT_EQ(folderOf("/opt/parvix/Veltrup"), "/opt/parvix");
    EXPECT_EQ(folderOf("/Veltrup"), "/");
    EXPECT_EQ(folderOf(runningExecutable()), runningExecutable().parent_path().string());
}

TEST(VeltrupProgramFolder, AtTheRootEveryJoinedPathHoldsTwoSeparators) {
    Wizard w;
    w.open("/");
    w.dl1->onDownLoad = [&] { w.dl1->fire(ev::DLComplete); };
    w.press();
    EXPECT_EQ(w.dl1->SaveLocation, "//Update.ini");
    // The version file the fake "saved" is not there, so it offers 0; installed is also 0.
    if (!std::filesystem::exists("/links.ini")) { EXPECT_EQ(w.dl1->Url, "Erro"); }
    if (!std::filesystem::exists("/Update.ini")) {
        EXPECT_EQ(w.form->intStep(), 3);
    }
}

TEST(VeltrupProgramFolder, AtTheRootTheUpdateIsSavedAndStartedFromThere) {
    Wizard w;
    w.writeVersionFile(kUpdate);
    w.setInstalled("\"Version\"=\"2\"");
    w.open("/");
    // dl1 "saves" the version file where the test keeps it.
    w.dl1->onDownLoad = [&] {
        w.dl1->SaveLocation = (w.folder / "Update.ini").string();
        w.dl1->fire(ev::DLComplete);
    };
    w.dl2->onDownLoad = [&] { w.dl2->fire(ev::DLComplete); };
    w.press();
    ASSERT_EQ(w.form->intStep(), 1);
    w.press();  // reads //Update.ini, which is not the test's file
    if (!std::filesystem::exists("/Update.ini")) { EXPECT_EQ(w.dl2->SaveLocation, "//Erro"); }
    w.press();
    EXPECT_EQ(w.form->txtInstallPath->toPlainText(), "//setup.sh");
    w.press();
    EXPECT_EQ(w.launched, std::vector<std::string>{"//setup.sh"});
}

TEST(VeltrupShellName, PlainNamesAreDownloadedAndStartedOthersNeverReachTheControl) {
    EXPECT_TRUE(isPlainFileName("setup.sh"));
    EXPECT_TRUE(isPlainFileName("Erro"));
    EXPECT_TRUE(isPlainFileName("instalador v2.exe"));
    EXPECT_TRUE(isPlainFileName("atualização.run"));
    EXPECT_TRUE(isPlainFileName("..setup"));

    // Bytes that are not UTF-8, and control characters, would be checked under one name and
    // shown or started under another.
    const char* unsafe[] = {"", ".", "..", "../../bin/x", "/usr/bin/x", "sub/x",
                            "a\\b", "..\\x", "C:x", "c:\\setup.exe", "setup\xff.exe",
                            "set\xc3\x28up", "setup\x01.exe", "set\tup", "setup\xc2\x85"};
    for (const char* shell : unsafe) {
        SCOPED_TRACE(shell);
        EXPECT_FALSE(isPlainFileName(shell));
        Wizard w;
        w.writeVersionFile(std::string("Version=3\r\nFile=http://127.0.0.1:1/x\r\nShell=") + shell +
                           "\r\n");
        w.setInstalled("\"Version\"=\"2\"");
        w.open();
        w.walkTo(1);
        w.calls.clear();
        w.press();
        EXPECT_TRUE(w.calls.empty()) << w.calls.front();
        EXPECT_TRUE(w.form->fraPos2->isVisible());
        EXPECT_EQ(w.form->lblErrorTit2->text(), "Erro:");
        EXPECT_EQ(w.form->lblError2->text(),
                  QString::fromUtf8("Não foi possível acessar o arquivo, tenha certeza de que "
                                    "você está conectado a Internet!"));
        EXPECT_TRUE(w.form->lblWhatToDo2->isVisible());
        EXPECT_TRUE(w.form->cmdAvancar->isEnabled());
        EXPECT_FALSE(w.form->cmdDLCancel->isEnabled());
        EXPECT_EQ(w.form->intStep(), 1);
    }

    // The default name is a plain one: a version file without Shell saves and starts "Erro".
    Wizard w;
    w.writeVersionFile("Version=3\r\nFile=http://127.0.0.1:1/x\r\n");
    w.setInstalled("\"Version\"=\"2\"");
    w.open();
    w.walkTo(4);
    EXPECT_EQ(w.dl2->SaveLocation, w.folderPath() + "/Erro");
    w.press();
    EXPECT_EQ(w.launched, std::vector<std::string>{w.folderPath() + "/Erro"});
}

TEST_F(VeltrupSteps, AVersionFileChangedToAPathAfterTheDownloadStartsNothing) {
    wizard.open();
    wizard.walkTo(4);
    wizard.writeVersionFile("Version=3\r\nShell=../../usr/bin/x\r\n");
    wizard.press();
    EXPECT_TRUE(wizard.launched.empty());
    EXPECT_EQ(wizard.ended, 0);
    const auto shown = boxes(wizard.host);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, kTitle);
    EXPECT_EQ(shown[0].style, carvo::mb::Critical);
}

TEST_F(VeltrupSteps, ProductWindowOpenWarnsAndKeepsTheStepOnceClosedTheInstallerStarts) {
    wizard.windows.windows.push_back({3, "PARVIX 2002 V3.1 - [Sem título]"});
    wizard.open();
    wizard.walkTo(4);
    wizard.press();
    auto shown = boxes(wizard.host);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text,
              "Erro! O Parvix 2002 está rodando em seu sistema. Feche-o e tente outra vez!");
    EXPECT_EQ(shown[0].style, carvo::mb::Exclamation | carvo::mb::OkOnly);
    EXPECT_EQ(shown[0].title, kTitle);
    EXPECT_TRUE(wizard.launched.empty());
    EXPECT_EQ(wizard.ended, 0);
    EXPECT_EQ(form().intStep(), 4);
    EXPECT_EQ(form().cmdAvancar->text(), "&Instalar");
    EXPECT_TRUE(form().fraPos3->isVisible());

    wizard.windows.windows.pop_back();  // the product is closed
    wizard.press();
    EXPECT_EQ(boxes(wizard.host).size(), 1u);
    EXPECT_EQ(wizard.launched, std::vector<std::string>{folder() + "/setup.sh"});
    EXPECT_EQ(wizard.ended, 1);
}

TEST_F(VeltrupSteps, AFailedInstallerStartIsToldAndTheWizardStaysOpen) {
    wizard.launchFailure = "O arquivo não foi encontrado.";
    wizard.open();
    wizard.walkTo(4);
    wizard.press();
    const auto shown = boxes(wizard.host);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, kTitle);
    EXPECT_NE(shown[0].text.find(folder() + "/setup.sh"), std::string::npos);
    EXPECT_NE(shown[0].text.find("O arquivo não foi encontrado."), std::string::npos);
    EXPECT_EQ(wizard.ended, 0);
    EXPECT_EQ(form().intStep(), 4);
    EXPECT_TRUE(form().cmdAvancar->isEnabled());
}

TEST_F(VeltrupSteps, ExitAsksFirstAndOnYesCancelsBothControlsThenEnds) {
    wizard.open();
    wizard.host.answerBox(carvo::MsgBoxResult::No);
    form().cmdSair->click();
    EXPECT_EQ(wizard.ended, 0);
    EXPECT_TRUE(wizard.calls.empty());
    auto shown = boxes(wizard.host);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Tem certeza que deseja sair do Programa de Auto Atualização?");
    EXPECT_EQ(shown[0].style, carvo::mb::Question | carvo::mb::YesNo | carvo::mb::DefaultButton1);
    EXPECT_EQ(shown[0].title, kTitle);

    wizard.host.answerBox(carvo::MsgBoxResult::Yes);
    form().cmdSair->click();
    EXPECT_EQ(wizard.calls, (CallLog{"dl1 Cancel", "dl2 Cancel"}));
    EXPECT_EQ(wizard.ended, 1);
}

TEST_F(VeltrupSteps, ExitDuringTheVersionCheckEndsFromInsideTheTransfer) {
    wizard.open();
    wizard.host.answerBox(carvo::MsgBoxResult::Yes);
    wizard.dl1->onDownLoad = [&] { form().cmdSair->click(); };
    wizard.press();
    EXPECT_EQ(wizard.ended, 1);
    EXPECT_EQ(wizard.calls.back(), "dl2 Cancel");
}

TEST_F(VeltrupSteps, AWindowManagerCloseAsksTheExitQuestionInstead) {
    wizard.open();
    wizard.host.answerBox(carvo::MsgBoxResult::No);
    EXPECT_FALSE(form().close());
    EXPECT_TRUE(form().isVisible());
    EXPECT_EQ(wizard.ended, 0);
    EXPECT_EQ(boxes(wizard.host).size(), 1u);

    wizard.host.answerBox(carvo::MsgBoxResult::Yes);
    form().close();
    EXPECT_EQ(wizard.ended, 1);
}

TEST_F(VeltrupSteps, AboutOpensTheAboutWindowAndChangesNothingElse) {
    wizard.open();
    form().Command1->click();
    EXPECT_EQ(wizard.aboutShown, 1);
    EXPECT_EQ(form().intStep(), 0);
    EXPECT_TRUE(wizard.calls.empty());
}

TEST_F(VeltrupSteps, ASecondCopyIsRefusedWithTheExactBoxAndEnds) {
    wizard.anotherCopy = true;
    wizard.create();
    EXPECT_FALSE(form().Form_Load());
    const auto shown = boxes(wizard.host);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text,
              "Erro: Você já está com outra instância deste programa aberta\r\nClique em OK para "
              "fechar");
    EXPECT_EQ(shown[0].style, carvo::mb::Critical | carvo::mb::OkOnly);
    EXPECT_EQ(shown[0].title, kTitle);
    EXPECT_EQ(wizard.ended, 1);
    EXPECT_FALSE(form().isVisible());
    EXPECT_EQ(form().lblVerAtual->text(), "");  // nothing else of the load step ran
}

TEST_F(VeltrupSteps, AFailedProbeRunsNoTransferThatWouldHideItsReason) {
    wizard.open();
    wizard.dl1->onProbe = [&] { wizard.dl1->fire(carvo::eventid::DLECode, std::int32_t{2}); };
    wizard.press();
    EXPECT_EQ(wizard.calls.back(), "dl1 GetFileInformation");
    EXPECT_EQ(form().lblError->text(), QString::fromUtf8("O Arquivo não foi encontrado no servidor."));
    EXPECT_EQ(form().intStep(), 0);

    wizard.dl1->onProbe = nullptr;  // the retry finds the file
    wizard.dl1->onDownLoad = [&] { wizard.dl1->fire(carvo::eventid::DLComplete); };
    wizard.press();
    EXPECT_EQ(wizard.calls.back(), "dl1 DownLoad");
    EXPECT_EQ(form().intStep(), 1);

    wizard.dl2->onProbe = [&] { wizard.dl2->fire(carvo::eventid::DLECode, std::int32_t{403}); };
    wizard.press();
    EXPECT_EQ(wizard.calls.back(), "dl2 GetFileInformation");
    EXPECT_EQ(form().lblError2->text(), "Acesso Negado.");
    EXPECT_FALSE(form().cmdDLCancel->isEnabled());
    EXPECT_EQ(form().intStep(), 1);
}

TEST_F(VeltrupSteps, TheUpdateNeverTakesTheNameOfOurOwnFiles) {
    const std::string own = QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
    for (const std::string& shell : {std::string("links.ini"), std::string("UPDATE.INI"), own}) {
        SCOPED_TRACE(shell);
        Wizard w;
        w.writeLinks("http://127.0.0.1:1/Update.ini");
        w.writeVersionFile("Version=3\r\nFile=http://127.0.0.1:1/x\r\nShell=" + shell + "\r\n");
        w.setInstalled("\"Version\"=\"2\"");
        w.open();
        w.walkTo(1);
        w.calls.clear();
        w.press();
        EXPECT_TRUE(w.calls.empty());
        EXPECT_EQ(w.form->intStep(), 1);
        EXPECT_TRUE(w.form->lblErrorTit2->isVisible());
    }
}

TEST_F(VeltrupSteps, APressDuringTheProductSearchDoesNotStartTheInstallerTwice) {
    wizard.windows.windows = {{1, "Terminal"}, {2, "Editor"}, {3, "Navegador"}};
    wizard.open();
    wizard.walkTo(4);
    wizard.host.everyYield([&] { wizard.press(); });
    wizard.press();
    wizard.host.everyYield(nullptr);
    EXPECT_EQ(wizard.launched.size(), 1u);
    EXPECT_EQ(wizard.ended, 1);
}

TEST_F(VeltrupSteps, AnInstallerThatFailsItsCheckIsDeletedAndNeverOffered) {
    const std::string installer = "#!/bin/sh\necho altered\n";
    std::ofstream(wizard.folder / "setup.sh", std::ios::binary) << installer;
    wizard.writeVersionFile(
        "Version=3\r\nFile=http://127.0.0.1/setup.sh\r\nShell=setup.sh\r\nSize=1\r\n");
    wizard.open();
    wizard.walkTo(2);
    EXPECT_FALSE(std::filesystem::exists(wizard.folder / "setup.sh"));
    EXPECT_EQ(form().intStep(), 1);
    EXPECT_FALSE(form().lblDLFinishTit->isVisible());
    EXPECT_EQ(form().lblErrorTit2->text(), "Erro:");
    EXPECT_EQ(form().lblError2->text(),
              QString::fromUtf8("O arquivo de atualização não passou na verificação de "
                                "autenticidade e foi apagado."));
    EXPECT_TRUE(form().lblWhatToDo2->isVisible());
    EXPECT_TRUE(form().cmdAvancar->isEnabled());
    EXPECT_FALSE(form().cmdDLCancel->isEnabled());
    EXPECT_TRUE(wizard.launched.empty());

    // The same file with the right size is accepted as before.
    std::ofstream(wizard.folder / "setup.sh", std::ios::binary) << installer;
    wizard.writeVersionFile("Version=3\r\nFile=http://127.0.0.1/setup.sh\r\nShell=setup.sh\r\nSize=" +
                            std::to_string(installer.size()) + "\r\n");
    wizard.press();
    EXPECT_EQ(form().intStep(), 2);
}

TEST_F(VeltrupSteps, WithTheMakersKeyAnUpdateTakesItsNameOnlyOnceItHasPassedItsCheck) {
    carvo::test::ScratchFolder maker{"veltrup-maker"};
    std::string error;
    const auto keys = maker::generateKeys(maker / "keys", error);
    ASSERT_TRUE(keys) << error;
    const auto secret = maker::loadSecretKey(keys->secretFile, error);
    ASSERT_TRUE(secret) << error;
    const std::string genuine = "#!/bin/sh\necho versao 3\n";
    carvo::test::storeBytes(maker / "setup.sh", genuine);
    const auto lines = maker::signInstaller(*secret, maker / "setup.sh", "3", "setup.sh", error);
    ASSERT_TRUE(lines) << error;

    carvo::test::storeBytes(wizard.folder / "links.ini",
                            "[MAIN]\nUpdateFile=http://127.0.0.1:1/Update.ini\nPublicKey=" +
                                keys->publicKey + "\n");
    wizard.writeVersionFile("Version=3\r\nFile=http://127.0.0.1:1/setup.sh\r\nShell=setup.sh\r\n" +
                            lines->text());
    carvo::test::storeBytes(wizard.folder / "setup.sh", "the file that was there");
    wizard.open();
    wizard.dl1->onDownLoad = [&] { wizard.dl1->fire(carvo::eventid::DLComplete); };
    wizard.press();
    ASSERT_EQ(form().intStep(), 1);

    // A broken download leaves no hidden partial file behind.
    wizard.dl2->onDownLoad = [&] {
        carvo::test::storeBytes(wizard.dl2->SaveLocation, "#!/bin/sh\n");
        wizard.dl2->fire(carvo::eventid::DLECode, 1);
    };
    wizard.press();
    EXPECT_EQ(form().intStep(), 1);
    EXPECT_FALSE(std::filesystem::exists(wizard.dl2->SaveLocation));

    std::string served = "#!/bin/sh\necho outro\n";
    wizard.dl2->onDownLoad = [&] {
        carvo::test::storeBytes(wizard.dl2->SaveLocation, served);
        wizard.dl2->fire(carvo::eventid::DLComplete);
        wizard.dl2->fire(carvo::eventid::StatusChange, carvo::Variant("Download Concluído!"));
    };
    wizard.press();
    EXPECT_NE(wizard.dl2->SaveLocation, folder() + "/setup.sh");
    EXPECT_FALSE(std::filesystem::exists(wizard.dl2->SaveLocation));
    EXPECT_EQ(carvo::test::loadBytes(wizard.folder / "setup.sh"), "the file that was there");
    EXPECT_EQ(form().intStep(), 1);
    // The status line tells the refusal, not the control's "done" that came after it.
    EXPECT_EQ(form().lblStatus2->text(), QString::fromUtf8("Arquivo de Atualização Recusado!"));

    served = genuine;
    wizard.press();
    EXPECT_EQ(form().intStep(), 2);
    EXPECT_FALSE(std::filesystem::exists(wizard.dl2->SaveLocation));
    EXPECT_EQ(carvo::test::loadBytes(wizard.folder / "setup.sh"), genuine);

    // Changed after its check, before the last press: refused then, and never started; the
    // wizard goes back to the download step, whose next press fetches it again.
    wizard.press();
    carvo::test::storeBytes(wizard.folder / "setup.sh", "#!/bin/sh\necho trocado\n");
    wizard.press();
    EXPECT_TRUE(wizard.launched.empty());
    EXPECT_FALSE(std::filesystem::exists(wizard.folder / "setup.sh"));
    EXPECT_EQ(form().intStep(), 1);
    EXPECT_TRUE(form().fraPos2->isVisible() && form().lblError2->isVisible());
    EXPECT_EQ(form().cmdAvancar->text(), QString::fromUtf8("&Avançar >>"));
    wizard.press();
    EXPECT_EQ(form().intStep(), 2);
    EXPECT_EQ(carvo::test::loadBytes(wizard.folder / "setup.sh"), genuine);
}

TEST_F(VeltrupSteps, AnEndingSignalDeletesTheHiddenPartialFileFirst) {
    carvo::test::storeBytes(wizard.folder / "links.ini", "[MAIN]\nPublicKey=x\n");
    wizard.open();
    wizard.walkTo(1);
    wizard.dl2->onDownLoad = [&] { carvo::test::storeBytes(wizard.dl2->SaveLocation, "#!"); };
    wizard.press();
    int ended = 0;
    const auto watch = endOnSignals([&](int signal) { ended = signal; });
    ::raise(SIGTERM);
    EXPECT_TRUE(waitFor([&] { return ended == SIGTERM; }));
    EXPECT_FALSE(std::filesystem::exists(wizard.dl2->SaveLocation));
}

TEST(VeltrupTexts, QtsOwnButtonsSpeakPortuguese) {
    const auto texts = portugueseQtTexts();
    ASSERT_NE(texts, nullptr) << "qtbase_pt_BR is missing (package qt6-translations-l10n)";
    QStringList seen;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            for (QAbstractButton* b : box->buttons()) seen << b->text().remove('&');
            box->reject();
        }
    });
    carvo::QtHost().messageBox("Sair?", carvo::mb::Question | carvo::mb::YesNo, kTitle);
    seen.sort();
    EXPECT_EQ(seen, (QStringList{QString::fromUtf8("Não"), "Sim"}));
}
