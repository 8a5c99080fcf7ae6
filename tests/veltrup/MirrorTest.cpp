// The update download when the maker's server fails: further addresses of the installer in the
// version file, a partial file continued across addresses and across runs of the program, and
// the signed size as a cap. Real controls, real servers (nginx and the scripted one), real
// signed version files.

#include <gtest/gtest.h>

#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <csignal>

#include "EndingSignals.h"
#include "HttpTestServer.h"
#include "MakerKeys.h"
#include "NginxServer.h"
#include "PartialDownload.h"
#include "TypeLib.h"
#include "WizardHarness.h"

using namespace veltrup;
using namespace veltrup::test;
namespace fs = std::filesystem;
namespace ev = carvo::eventid;

namespace {

std::string installerOf(std::size_t size) {
    std::string s = "#!/bin/sh\nexit 0\n";
    for (int i = 0; s.size() < size; ++i) s += "# " + std::to_string(i) + " dados do instalador\n";
    return s;
}

// Calls back at each RecievedBytes of dl2, after the window's own handlers, and records what
// the status line said at each StatusChange.
class Watch : public carvo::EventSink {
  public:
    explicit Watch(frmMain& form) : form_(form) {}
    void onEvent(carvo::DispId id, std::span<carvo::Variant> args) override {
        if (id == ev::StatusChange) statuses.push_back(form_.lblStatus2->text().toStdString());
        if (id == ev::RecievedBytes && !args.empty() && onBytes) onBytes(args[0].toLong());
    }
    bool said(const std::string& part) const {
        for (const auto& s : statuses)
            if (s.find(part) != std::string::npos) return true;
        return false;
    }
    std::vector<std::string> statuses;
    std::function<void(std::int32_t)> onBytes;

  private:
    frmMain& form_;
};

// The maker: a key pair, and version files signed with it.
class Maker {
  public:
    Maker() {
        std::string error;
        const auto keys = maker::generateKeys(dir / "keys", error);
        if (!keys) throw std::runtime_error(error);
        publicKey = keys->publicKey;
        secret = *maker::loadSecretKey(keys->secretFile, error);
    }
    // The signed lines of section MAIN for this installer, expiring after `days` (0: never).
    std::string lines(const std::string& installer, int days = 0) {
        carvo::test::storeBytes(dir / "setup.sh", installer);
        std::string error;
        maker::SignOptions options;
        if (days > 0)
            options.expires = std::chrono::floor<std::chrono::seconds>(
                std::chrono::system_clock::now() + std::chrono::days(days));
        const auto signedLines =
            maker::signRelease(secret, dir / "setup.sh", "3", "setup.sh", options, error);
        if (!signedLines) throw std::runtime_error(error);
        return signedLines->text();
    }
    carvo::test::ScratchFolder dir{"veltrup-maker"};
    std::string publicKey;
    maker::SecretKey secret;
};

// A live wizard whose links.ini names the version file, with the maker's key or without.
struct LiveWizard {
    LiveWizard(const std::string& updateUrl, const std::string& publicKey,
               const std::string& programFolder = {}) {
        w.liveControls = w.host.processQtEvents = true;
        w.host.useRealClock(true);
        const fs::path folder = programFolder.empty() ? w.folder.path() : fs::path(programFolder);
        carvo::test::storeBytes(folder / "links.ini",
                                "[MAIN]\r\nUpdateFile=" + updateUrl + "\r\n" +
                                    (publicKey.empty() ? "" : "PublicKey=" + publicKey + "\r\n"));
        w.open(programFolder);
        watch = std::make_shared<Watch>(*w.form);
        dynamic_cast<carvo::OleControl&>(w.form->dl2()).connectionPoint().advise(watch);
    }
    Wizard w;
    std::shared_ptr<Watch> watch;
};

std::vector<std::string> rangesOf(const carvo::test::HttpTestServer& server,
                                  const std::string& path) {
    std::vector<std::string> ranges;
    for (const auto& r : server.requests())
        if (r.target == path && !r.header("Range").empty()) ranges.push_back(r.header("Range"));
    return ranges;
}

#define NEED_NGINX() \
    if (!carvo::test::NginxServer::available()) GTEST_SKIP() << "nginx is not installed"

}  // namespace

TEST(VeltrupMirrors, AServerErrorAndAOneByteDifferentCopyArePassedOverForTheGoodOne) {
    // The first address answers 503, the second serves a copy of the signed size with one
    // byte changed (at the first byte, then at the last), the third the installer.
    NEED_NGINX();
    const std::string installer = installerOf(200 * 1024);
    Maker maker;
    for (const std::size_t changed : {std::size_t{0}, installer.size() - 1}) {
        SCOPED_TRACE(changed);
        carvo::test::ScratchFolder site{"veltrup-site"};
        std::string bad = installer;
        bad[changed] = static_cast<char>(bad[changed] ^ 1);
        fs::create_directories(site / "bad");
        fs::create_directories(site / "good");
        carvo::test::storeBytes(site / "bad" / "setup.sh", bad);
        carvo::test::storeBytes(site / "good" / "setup.sh", installer);
        carvo::test::NginxServer nginx({.root = site.path()});
        carvo::test::HttpTestServer down;
        carvo::test::Response unavailable;
        unavailable.statusLine = "HTTP/1.1 503 Service Unavailable";
        down.route("/setup.sh", unavailable);
        carvo::test::storeBytes(
            site / "Update.ini",
            "[MAIN]\r\nFile=" + down.url("/setup.sh") + "\r\nFile2=" + nginx.url("/bad/setup.sh") +
                "\r\nFile3=" + nginx.url("/good/setup.sh") + "\r\n" + maker.lines(installer));
        LiveWizard one(nginx.url("/Update.ini"), maker.publicKey);
        one.w.press();
        one.w.press();
        ASSERT_EQ(one.w.form->intStep(), 2) << one.w.form->lblError2->text().toStdString();
        EXPECT_EQ(carvo::test::loadBytes(one.w.folder / "setup.sh"), installer);
        EXPECT_FALSE(fs::exists(one.w.folder / ".setup.sh.parcial"));
        EXPECT_EQ(down.requestCount(), 1u);
        // The status line named each server in turn.
        for (const char* server : {"Servidor 1 de 3", "Servidor 2 de 3", "Servidor 3 de 3"})
            EXPECT_TRUE(one.watch->said(server)) << server;
        EXPECT_FALSE(one.w.form->lblError2->isVisible());
    }
}

TEST(VeltrupMirrors, ABrokenTransferGoesOnAtTheNextAddressOnlyWhenSigned) {
    // The first address breaks at 100 KiB; the second serves the file with byte ranges.
    // Signed, the second continues the partial file (its hash decides); unsigned it starts
    // from zero, since nothing could tell a file joined from two servers.
    const std::string installer = installerOf(300 * 1024);
    const std::size_t brokenAt = 100 * 1024;
    Maker maker;
    for (const bool withKey : {true, false}) {
        SCOPED_TRACE(withKey);
        carvo::test::HttpTestServer server;
        carvo::test::Response broken;
        broken.body = installer;
        broken.dropAfter = brokenAt;
        broken.honourRange = true;
        server.route("/a/setup.sh", broken);
        carvo::test::Response whole;
        whole.body = installer;
        whole.honourRange = true;
        server.route("/b/setup.sh", whole);
        carvo::test::Response versions;
        versions.body = "[MAIN]\r\nFile=" + server.url("/a/setup.sh") +
                        "\r\nFile2=" + server.url("/b/setup.sh") + "\r\n" +
                        (withKey ? maker.lines(installer) : "Version=3\r\nShell=setup.sh\r\n");
        server.route("/Update.ini", versions);
        LiveWizard one(server.url("/Update.ini"), withKey ? maker.publicKey : "");
        one.w.press();
        one.w.press();
        ASSERT_EQ(one.w.form->intStep(), 2) << one.w.form->lblError2->text().toStdString();
        EXPECT_EQ(carvo::test::loadBytes(one.w.folder / "setup.sh"), installer);
        EXPECT_EQ(rangesOf(server, "/b/setup.sh"),
                  withKey ? std::vector<std::string>{"bytes=" + std::to_string(brokenAt) + "-"}
                          : std::vector<std::string>{});
    }
}

TEST(VeltrupRestart, AnEndedDownloadGoesOnInTheNextRunOnlyForTheSameStatementAndFile) {
    // The first run ends at about half the download: by "Sair", or by two SIGTERMs in quick
    // succession (the second must not end the program before the first has settled the
    // partial file). The next run continues it with one range request from where the record
    // says, unless the maker has signed the release again meanwhile or the partial file has
    // changed or is a link: then it is deleted and the download starts over.
    const std::string installer = installerOf(400 * 1024);
    Maker maker;
    enum class End { Sair, TwoSignals };
    enum class Change { None, Resigned, FileGrew, Link };
    struct Row {
        End end;
        Change change;
    };
    for (const Row row : {Row{End::Sair, Change::None}, Row{End::TwoSignals, Change::None},
                          Row{End::Sair, Change::Resigned}, Row{End::Sair, Change::FileGrew},
                          Row{End::Sair, Change::Link}}) {
        SCOPED_TRACE(testing::Message()
                     << static_cast<int>(row.end) << static_cast<int>(row.change));
        carvo::test::HttpTestServer server;
        carvo::test::Response file;
        file.body = installer;
        file.honourRange = true;
        server.route("/setup.sh", file);
        carvo::test::Response versions;
        versions.body =
            "[MAIN]\r\nFile=" + server.url("/setup.sh") + "\r\n" + maker.lines(installer);
        server.route("/Update.ini", versions);

        LiveWizard one(server.url("/Update.ini"), maker.publicKey);
        const fs::path partial = one.w.folder / ".setup.sh.parcial";
        int ended = 0;
        std::unique_ptr<QObject> signalWatch;
        if (row.end == End::TwoSignals) {
            signalWatch = endOnSignals([&](int) {
                ++ended;
                // Here the program would end; the test stops the transfer instead.
                carvo::callMethod(one.w.form->dl2(), carvo::dispid::Cancel);
            });
        }
        bool stopped = false;
        one.watch->onBytes = [&](std::int32_t bytes) {
            if (stopped || bytes < static_cast<std::int32_t>(installer.size() / 2)) return;
            stopped = true;
            if (row.end == End::Sair) {
                one.w.host.answerBox(carvo::MsgBoxResult::Yes);
                try {
                    one.w.form->cmdSair_Click();
                } catch (const std::exception& e) {
                    ADD_FAILURE() << e.what();
                }
            } else {
                ::raise(SIGTERM);
                ::raise(SIGTERM);
                // The message loop takes the signal at the control's next yield.
                EXPECT_TRUE(waitFor([&] { return ended > 0; }));
            }
        };
        one.w.press();
        one.w.press();
        signalWatch.reset();
        ASSERT_TRUE(stopped);
        EXPECT_EQ(row.end == End::Sair ? one.w.ended : ended, 1);
        // The partial file and its record agree.
        const auto left = regularFileLength(partial.string());
        ASSERT_TRUE(left);
        EXPECT_GT(*left, 0);
        EXPECT_LT(*left, static_cast<std::int64_t>(installer.size()));
        EXPECT_EQ(carvo::test::loadBytes(recordPathOf(partial.string()))
                      .rfind(std::to_string(*left) + "\n", 0),
                  0u);
        one.w.form.reset();

        if (row.change == Change::Resigned)
            versions.body =
                "[MAIN]\r\nFile=" + server.url("/setup.sh") + "\r\n" + maker.lines(installer, 30);
        server.route("/Update.ini", versions);
        if (row.change == Change::FileGrew) {
            std::string bytes = carvo::test::loadBytes(partial);
            carvo::test::storeBytes(partial, bytes + "x");
        }
        const fs::path elsewhere = one.w.folder / "elsewhere";
        std::string kept;
        if (row.change == Change::Link) {
            // The same bytes, but behind a link: never continued, never written through.
            kept = carvo::test::loadBytes(partial);
            fs::rename(partial, elsewhere);
            fs::create_symlink(elsewhere, partial);
        }
        LiveWizard two(server.url("/Update.ini"), maker.publicKey, one.w.folderPath());
        two.w.press();
        two.w.press();
        ASSERT_EQ(two.w.form->intStep(), 2) << two.w.form->lblError2->text().toStdString();
        EXPECT_EQ(carvo::test::loadBytes(one.w.folder / "setup.sh"), installer);
        EXPECT_EQ(rangesOf(server, "/setup.sh"),
                  row.change == Change::None
                      ? std::vector<std::string>{"bytes=" + std::to_string(*left) + "-"}
                      : std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(partial));
        EXPECT_FALSE(fs::exists(recordPathOf(partial.string())));
        if (row.change == Change::Link) {
            EXPECT_EQ(carvo::test::loadBytes(elsewhere), kept);
        }
    }
}

TEST(VeltrupInstallerCap, MoreThanTheSignedSizeIsStoppedAtTheFirstByteOver) {
    // A transfer whose length was not announced (the control is told nothing) is cancelled
    // when the byte after the signed size arrives, never at the last byte of the size itself,
    // and the file is deleted; a server announcing one byte more is not read at all.
    const std::string installer = installerOf(16);
    const auto size = static_cast<std::int32_t>(installer.size());
    Maker maker;
    {
        Wizard w;
        carvo::test::storeBytes(w.folder / "links.ini",
                                "[MAIN]\r\nPublicKey=" + maker.publicKey + "\r\n");
        w.writeVersionFile("File=http://127.0.0.1:1/setup.sh\r\n" + maker.lines(installer));
        w.open();
        w.dl1->onDownLoad = [&] { w.dl1->fire(ev::DLComplete); };
        w.press();
        ASSERT_EQ(w.form->intStep(), 1);
        std::vector<bool> cancelledAt;
        w.dl2->onDownLoad = [&] {
            carvo::test::storeBytes(w.dl2->SaveLocation, installer + "X");
            for (const std::int32_t bytes : {size - 1, size, size + 1}) {
                w.dl2->fire(ev::RecievedBytes, carvo::Variant(bytes));
                cancelledAt.push_back(std::count(w.calls.begin(), w.calls.end(), "dl2 Cancel") ==
                                      1);
            }
            w.dl2->fire(ev::DLECode, carvo::Variant(std::int32_t{4}));
            w.dl2->fire(ev::StatusChange, carvo::Variant("Cancelado."));
        };
        w.press();
        EXPECT_EQ(cancelledAt, (std::vector<bool>{false, false, true}));
        EXPECT_EQ(w.form->intStep(), 1);
        EXPECT_EQ(w.form->lblError2->text().toStdString(), kOversizeFailure.text);
        EXPECT_EQ(w.form->lblStatus2->text(), QString::fromUtf8(kRefusedStatus));
        EXPECT_TRUE(w.form->cmdAvancar->isEnabled());
        EXPECT_FALSE(fs::exists(w.dl2->SaveLocation));
    }
    carvo::test::HttpTestServer server;
    carvo::test::Response longer;
    longer.body = installer + "X";
    server.route("/setup.sh", longer);
    carvo::test::Response versions;
    versions.body = "[MAIN]\r\nFile=" + server.url("/setup.sh") + "\r\n" + maker.lines(installer);
    server.route("/Update.ini", versions);
    LiveWizard one(server.url("/Update.ini"), maker.publicKey);
    one.w.press();
    one.w.press();
    EXPECT_EQ(one.w.form->intStep(), 1);
    EXPECT_EQ(one.w.form->lblError2->text().toStdString(), kWrongSizeFailure.text);
    EXPECT_FALSE(fs::exists(one.w.folder / ".setup.sh.parcial"));
    EXPECT_FALSE(fs::exists(one.w.folder / "setup.sh"));
}
