// A product folder the user may not write: the downloads go to the user's own cache folder,
// and "Instalar" asks for the administrator's password through pkexec (a script of the test's
// stands in for it, and answers as pkexec would).

#include <gtest/gtest.h>
#include <unistd.h>

#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>
#include <functional>

#include "MakerKeys.h"
#include "TypeLib.h"
#include "WizardHarness.h"

namespace veltrup::test {
namespace {

namespace fs = std::filesystem;
using carvo::test::loadBytes;
using carvo::test::storeBytes;

constexpr const char* kHelper = "/usr/libexec/veltrup/veltrup-install-helper";

// Walks a signed version 3 to the install panel, the downloads in the test's cache folder.
struct RootOwnedProduct {
    Wizard wizard;
    carvo::test::ScratchFolder cache{"veltrup-cache"};
    carvo::test::ScratchFolder tools{"veltrup-pkexec"};
    const std::string genuine = "#!/bin/sh\necho versao 3\n";

    RootOwnedProduct(bool withKey, int pkexecStatus, bool pkexecThere = true) {
        std::string error;
        const auto keys = maker::generateKeys(tools / "keys", error);
        const auto secret = maker::loadSecretKey(keys.value().secretFile, error);
        storeBytes(tools / "setup.sh", genuine);
        const auto lines =
            maker::signInstaller(secret.value(), tools / "setup.sh", "3", "setup.sh", error);
        storeBytes(wizard.folder / "links.ini",
                   "[MAIN]\nUpdateFile=http://127.0.0.1:1/Update.ini\n" +
                       (withKey ? "PublicKey=" + keys->publicKey + "\n" : ""));
        const std::string versionFile =
            "[MAIN]\r\nVersion=3\r\nFile=http://127.0.0.1:1/setup.sh\r\nShell=setup.sh\r\n" +
            (withKey ? lines.value().text() : std::string());
        wizard.setInstalled("\"Version\"=\"2\"");
        wizard.downloadPlace = [this](const std::string& folder) {
            return userCachePlace(folder, ::geteuid(), {cache.path()});
        };
        storeBytes(tools / "pkexec", "#!/bin/sh\nprintf '%s\\n' \"$@\" > " +
                                         (tools / "args").string() + "\nexit " +
                                         std::to_string(pkexecStatus) + "\n");
        fs::permissions(tools / "pkexec", fs::perms(0755));
        wizard.elevation = {pkexecThere ? (tools / "pkexec").string() : (tools / "none").string(),
                            kHelper};
        wizard.open();
        wizard.dl1->onDownLoad = [this, versionFile] {
            storeBytes(wizard.dl1->SaveLocation, versionFile);
            wizard.dl1->fire(carvo::eventid::DLComplete);
        };
        wizard.dl2->onDownLoad = [this] {
            storeBytes(wizard.dl2->SaveLocation, genuine);
            wizard.dl2->fire(carvo::eventid::DLComplete);
        };
        for (int press = 0; press < 3; ++press) wizard.press();
    }
    fs::path downloads() const { return cache / "veltrup" / productCacheName(wizard.folderPath()); }
    std::string box() const {
        const auto shown = boxes(wizard.host);
        return shown.empty() ? std::string() : shown.back().text;
    }
};

TEST(VeltrupAsAdministrator, TheDownloadsGoToTheUsersCacheAndInstallingAsksForThePassword) {
    struct Case {
        int status;
        bool pkexecThere;
        const char* says;  // in the message box; "" for none
        bool installerStays;
        int step;
    };
    const std::vector<Case> cases = {
        {0, true, "", true, 4},
        {126, true, "O pedido da senha do administrador foi cancelado", true, 4},
        {127, true, "O sistema não autorizou a instalação", true, 4},
        {0, false, "(pkexec) não pôde ser executado", true, 4},
        {7, true, kVerifyFailureText, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + (c.pkexecThere ? "" : " without pkexec"));
        RootOwnedProduct p(true, c.status, c.pkexecThere);
        const fs::path installer = p.downloads() / "setup.sh";
        ASSERT_EQ(p.wizard.form->intStep(), 4);
        // Nothing is written into the product folder; the path to note down is the cache's.
        EXPECT_FALSE(fs::exists(p.wizard.folder / "Update.ini"));
        EXPECT_FALSE(fs::exists(p.wizard.folder / "setup.sh"));
        EXPECT_EQ(p.wizard.form->txtInstallPath->toPlainText().toStdString(), installer.string());
        EXPECT_EQ(fs::status(p.downloads()).permissions(), fs::perms(0700));
        EXPECT_NE(productCacheName(p.wizard.folderPath() + "x"), p.downloads().filename());

        p.wizard.press();
        EXPECT_TRUE(p.wizard.launched.empty());  // never started as the user
        EXPECT_EQ(p.wizard.ended, c.says[0] == '\0' ? 1 : 0);
        EXPECT_NE(p.box().find(c.says), std::string::npos) << p.box();
        if (c.says[0] != '\0') {
            EXPECT_NE(p.box().find(installer.string()), std::string::npos);
        }
        EXPECT_EQ(fs::exists(installer), c.installerStays);
        EXPECT_EQ(p.wizard.form->intStep(), c.step);
        if (c.pkexecThere) {
            EXPECT_EQ(loadBytes(p.tools / "args"), std::string(kHelper) + "\n" +
                                                       p.wizard.folderPath() + "\n" +
                                                       (p.downloads() / "Update.ini").string() +
                                                       "\n" + installer.string() + "\n");
        }
    }
}

TEST(VeltrupAsAdministrator, AnUnsignedUpdateIsNeverStartedAsRoot) {
    RootOwnedProduct p(false, 0);
    ASSERT_EQ(p.wizard.form->intStep(), 4);
    p.wizard.press();
    EXPECT_EQ(p.box().find(kUnsignedForAdministrator), p.box().rfind('\n') + 1) << p.box();
    EXPECT_FALSE(fs::exists(p.tools / "args"));  // not even the password was asked for
    EXPECT_TRUE(p.wizard.launched.empty());
    EXPECT_EQ(p.wizard.ended, 0);
    EXPECT_TRUE(fs::exists(p.downloads() / "setup.sh"));  // kept, for the administrator
}

TEST(VeltrupAsAdministrator, APlantedCacheFolderIsRefusedWithItsOwnTextsAndARetry) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& veltrup)> plant;
        bool needsRoot = false;
    };
    const std::vector<Case> cases = {
        {"a link", [](const fs::path& v) { fs::create_directory_symlink("/tmp", v); }},
        {"open to others",
         [](const fs::path& v) { fs::create_directory(v), fs::permissions(v, fs::perms(0755)); }},
        {"another user's",
         [](const fs::path& v) {
             fs::create_directory(v), fs::permissions(v, fs::perms(0700));
             ASSERT_EQ(::chown(v.c_str(), 65534, 65534), 0);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) continue;
        Wizard w;
        carvo::test::ScratchFolder cache{"veltrup-cache"};
        c.plant(cache / "veltrup");
        w.downloadPlace = [&](const std::string& folder) {
            return userCachePlace(folder, ::geteuid(), {cache.path()});
        };
        w.writeLinks("http://127.0.0.1:1/Update.ini");
        w.open();
        w.press();
        EXPECT_EQ(std::count(w.calls.begin(), w.calls.end(), "dl1 GetFileInformation"), 0);
        const std::string text = w.form->lblError->text().toStdString();
        EXPECT_TRUE(w.form->lblError->isVisible());
        EXPECT_NE(text.find("não pode ser usada"), std::string::npos) << text;
        EXPECT_NE(text.find((cache / "veltrup").string()), std::string::npos) << text;
        EXPECT_EQ(text.find("Internet"), std::string::npos);
        EXPECT_TRUE(w.form->cmdAvancar->isEnabled());

        // Left as it was found; once it is gone, the next press makes the folder and checks.
        EXPECT_TRUE(fs::is_symlink(cache / "veltrup") || fs::is_empty(cache / "veltrup"));
        fs::remove(cache / "veltrup");
        w.press();
        EXPECT_EQ(std::count(w.calls.begin(), w.calls.end(), "dl1 GetFileInformation"), 1);
        EXPECT_FALSE(w.form->lblError->isVisible());
    }
}

TEST(VeltrupAsAdministrator, AFolderThatCannotBeWrittenIsSaidSoNotBlamedOnTheInternet) {
    Wizard w;
    const std::string gone = w.folderPath() + "/apagada";  // a folder nobody can write into
    w.downloadPlace = [&](const std::string&) { return DownloadPlace{gone, true, std::nullopt}; };
    w.writeLinks("http://127.0.0.1:1/Update.ini");
    w.open();
    w.dl1->onDownLoad = [&] { w.dl1->fire(carvo::eventid::DLECode, 1); };
    w.press();
    const std::string text = w.form->lblError->text().toStdString();
    EXPECT_EQ(text, "Não foi possível gravar os arquivos de atualização na pasta " + gone + ".");
    EXPECT_TRUE(w.form->cmdAvancar->isEnabled());
}

}  // namespace
}  // namespace veltrup::test
