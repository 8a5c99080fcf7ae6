// The update download when the maker's server fails: further addresses of the installer, a
// partial file continued across addresses and runs, the signed size as a cap. Real controls,
// nginx and the scripted server, real signed version files.

#include <gtest/gtest.h>

#include <QPushButton>
#include <algorithm>
#include <csignal>

#include "EndingSignals.h"
#include "HttpTestServer.h"
#include "MakerKeys.h"
#include "PartialDownload.h"
#include "TypeLib.h"
#include "WizardHarness.h"

using namespace veltrup;
using namespace veltrup::test;
namespace fs = std::filesystem;
namespace ev = carvo::eventid;
using Strings = std::vector<std::string>;

namespace {

const std::string kInstaller = [] {
    std::string s = "#!/bin/sh\nexit 0\n";
    for (int i = 0; s.size() < 400 * 1024; ++i) s += "# " + std::to_string(i) + " dados\n";
    return s;
}();

// The maker's key, and the signed lines of a version file for an installer (expiring in
// `days`, or never).
struct Maker {
    carvo::test::ScratchFolder dir{"veltrup-maker"};
    std::string error;
    maker::KeyFiles keys = *maker::generateKeys(dir / "keys", error);
    maker::SecretKey secret = *maker::loadSecretKey(keys.secretFile, error);
    std::string lines(const std::string& installer, int days = 0) {
        carvo::test::storeBytes(dir / "setup.sh", installer);
        maker::SignOptions options;
        if (days > 0)
            options.expires = std::chrono::floor<std::chrono::seconds>(
                std::chrono::system_clock::now() + std::chrono::days(days));
        return maker::signRelease(secret, dir / "setup.sh", "3", "setup.sh", options, error)
            ->text();
    }
};

// A wizard with live controls in `folder` (its own when empty), run to the end of the download
// step; onBytes sees each RecievedBytes of dl2, statuses what the status line said.
struct LiveRun {
    LiveRun(const std::string& updateUrl, const std::string& key, const std::string& folder = {}) {
        w.liveControls = w.host.processQtEvents = true;
        w.host.useRealClock(true);
        carvo::test::storeBytes(fs::path(folder.empty() ? w.folderPath() : folder) / "links.ini",
                                "[MAIN]\nUpdateFile=" + updateUrl + "\n" +
                                    (key.empty() ? "" : "PublicKey=" + key + "\n"));
        w.open(folder);
    }
    // Watches dl2 after the window's own handlers; the window owns the control, so the watch
    // holds no owning pointer back.
    struct Sink : carvo::EventSink {
        explicit Sink(LiveRun& owner) : run(owner) {}
        void onEvent(carvo::DispId id, std::span<carvo::Variant> args) override {
            if (id == ev::StatusChange)
                run.statuses.push_back(run.w.form->lblStatus2->text().toStdString());
            if (id == ev::RecievedBytes && run.onBytes) run.onBytes(args[0].toLong());
        }
        LiveRun& run;
    };
    void download() {
        dynamic_cast<carvo::OleControl&>(w.form->dl2())
            .connectionPoint()
            .advise(std::make_shared<Sink>(*this));
        w.press();
        w.press();
    }
    Wizard w;
    Strings statuses;
    std::function<void(std::int32_t)> onBytes;
};

Strings rangesOf(const carvo::test::HttpTestServer& server, const std::string& path) {
    Strings ranges;
    for (const auto& r : server.requests())
        if (r.target == path && !r.header("Range").empty()) ranges.push_back(r.header("Range"));
    return ranges;
}

carvo::test::Response serving(std::string body) {
    carvo::test::Response r;
    r.body = std::move(body);
    r.honourRange = true;
    return r;
}

}  // namespace

TEST(VeltrupMirrors, EachFailingAddressIsPassedOverAndOnlyASignedDownloadGoesOnElsewhere) {
    // Addresses on the scripted server: 503, a copy announcing one byte more than the signed
    // size, a transfer broken at 100 KiB, the installer; on nginx, a copy with its last byte
    // changed. Signed, a broken partial file goes on at the next address with a range;
    // unsigned, the next address starts from zero.
    if (!carvo::test::NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    Maker maker;
    struct Row {
        bool signedMode;
        Strings mirrors, ranges;
    };
    const std::string brokenAt = std::to_string(100 * 1024);
    for (const Row& row : {Row{true, {"/503", "/longer", "/bad", "/good"}, {}},
                           Row{true, {"/broken", "/good"}, {"bytes=" + brokenAt + "-"}},
                           Row{false, {"/broken", "/good"}, {}}}) {
        SCOPED_TRACE(row.signedMode);
        carvo::test::ScratchFolder site{"veltrup-site"};
        std::string bad = kInstaller;
        bad.back() ^= 1;
        carvo::test::storeBytes(site / "bad", bad);
        carvo::test::NginxServer nginx({.root = site.path()});
        carvo::test::HttpTestServer server;
        auto unavailable = serving("");
        unavailable.statusLine = "HTTP/1.1 503 Service Unavailable";
        server.route("/503", unavailable);
        server.route("/longer", serving(kInstaller + "X"));
        server.route("/good", serving(kInstaller));
        auto broken = serving(kInstaller);
        broken.dropAfter = 100 * 1024;
        server.route("/broken", broken);
        std::string versions =
            "[MAIN]\n" + (row.signedMode ? maker.lines(kInstaller) : "Version=3\nShell=setup.sh\n");
        for (std::size_t i = 0; i < row.mirrors.size(); ++i)
            versions +=
                "File" + (i ? std::to_string(i + 1) : "") + "=" +
                (row.mirrors[i] == "/bad" ? nginx.url("/bad") : server.url(row.mirrors[i])) + "\n";
        server.route("/Update.ini", serving(versions));
        LiveRun run(server.url("/Update.ini"), row.signedMode ? maker.keys.publicKey : "");
        run.download();
        ASSERT_EQ(run.w.form->intStep(), 2) << run.w.form->lblError2->text().toStdString();
        EXPECT_EQ(carvo::test::loadBytes(run.w.folder / "setup.sh"), kInstaller);
        EXPECT_FALSE(fs::exists(run.w.folder / ".setup.sh.parcial"));
        EXPECT_EQ(rangesOf(server, "/good"), row.ranges);
        // The status line named each server in turn, the last one at the end.
        const std::string of = " de " + std::to_string(row.mirrors.size());
        for (std::size_t i = 1; i <= row.mirrors.size(); ++i)
            EXPECT_TRUE(std::any_of(run.statuses.begin(), run.statuses.end(), [&](auto& s) {
                return s.ends_with("Servidor " + std::to_string(i) + of);
            })) << i;
    }
}

TEST(VeltrupRestart, AnEndedDownloadGoesOnInTheNextRunOnlyForTheSameStatementAndFile) {
    // The first run ends at half the download, by "Sair" or by two SIGTERMs in quick
    // succession (the second must not end the program before the partial file is settled).
    // The next run continues with one range from the recorded length, unless the maker signed
    // again meanwhile or the partial file grew or is a link: then it starts over.
    enum Change { None, Resigned, Grew, Link };
    Maker maker;
    for (const auto& row :
         {std::pair{false, None}, std::pair{true, None}, std::pair{false, Resigned},
          std::pair{false, Grew}, std::pair{false, Link}}) {
        const bool bySignals = row.first;
        const Change change = row.second;
        SCOPED_TRACE(testing::Message() << bySignals << change);
        carvo::test::HttpTestServer server;
        server.route("/setup.sh", serving(kInstaller));
        const std::string head = "[MAIN]\nFile=" + server.url("/setup.sh") + "\n";
        server.route("/Update.ini", serving(head + maker.lines(kInstaller)));
        LiveRun one(server.url("/Update.ini"), maker.keys.publicKey);
        const fs::path partial = one.w.folder / ".setup.sh.parcial";
        int ended = 0;
        auto watch = endOnSignals([&](int) {
            ++ended;  // the program ends here; the test stops the transfer instead
            carvo::callMethod(one.w.form->dl2(), carvo::dispid::Cancel);
        });
        one.onBytes = [&](std::int32_t bytes) {
            if (ended || one.w.ended || bytes < std::int32_t(kInstaller.size() / 2)) return;
            if (!bySignals) {
                one.w.host.answerBox(carvo::MsgBoxResult::Yes);
                return one.w.form->cmdSair_Click();
            }
            ::raise(SIGTERM);
            ::raise(SIGTERM);
            EXPECT_TRUE(waitFor([&] { return ended > 0; }));  // at the control's next yield
        };
        one.download();
        watch.reset();
        EXPECT_EQ(ended + one.w.ended, 1);
        // The partial file and its record agree.
        const auto left = regularFileLength(partial.string());
        ASSERT_TRUE(left && *left > 0 && *left < std::int64_t(kInstaller.size()));
        EXPECT_EQ(
            carvo::test::loadBytes(recordPathOf(partial)).rfind(std::to_string(*left) + "\n", 0),
            0u);
        one.w.form.reset();

        if (change == Resigned)
            server.route("/Update.ini", serving(head + maker.lines(kInstaller, 30)));
        const std::string kept = carvo::test::loadBytes(partial) + (change == Grew ? "x" : "");
        if (change == Link) fs::rename(partial, one.w.folder / "elsewhere");
        if (change == Link) fs::create_symlink(one.w.folder / "elsewhere", partial);
        if (change == Grew) carvo::test::storeBytes(partial, kept);
        LiveRun two(server.url("/Update.ini"), maker.keys.publicKey, one.w.folderPath());
        two.download();
        ASSERT_EQ(two.w.form->intStep(), 2) << two.w.form->lblError2->text().toStdString();
        EXPECT_EQ(carvo::test::loadBytes(one.w.folder / "setup.sh"), kInstaller);
        EXPECT_EQ(rangesOf(server, "/setup.sh"),
                  change == None ? Strings{"bytes=" + std::to_string(*left) + "-"} : Strings{});
        EXPECT_FALSE(fs::exists(partial) || fs::exists(recordPathOf(partial)));
        EXPECT_EQ(change != Link || carvo::test::loadBytes(one.w.folder / "elsewhere") == kept,
                  true);
    }
}

TEST(VeltrupInstallerCap, MoreThanTheSignedSizeIsStoppedAtTheFirstByteOver) {
    // A transfer of unannounced length is cancelled when the byte after the signed size
    // arrives, never at the size itself, and its file is deleted.
    Maker maker;
    const std::string installer = "#!/bin/sh\nexit 0\n";
    const auto size = static_cast<std::int32_t>(installer.size());
    Wizard w;
    carvo::test::storeBytes(w.folder / "links.ini", "[MAIN]\nPublicKey=" + maker.keys.publicKey);
    w.writeVersionFile("File=http://127.0.0.1:1/setup.sh\n" + maker.lines(installer));
    w.open();
    w.dl1->onDownLoad = [&] { w.dl1->fire(ev::DLComplete); };
    w.press();
    std::vector<bool> cancelledAt;
    w.dl2->onDownLoad = [&] {
        carvo::test::storeBytes(w.dl2->SaveLocation, installer + "X");
        for (const std::int32_t bytes : {size - 1, size, size + 1}) {
            w.dl2->fire(ev::RecievedBytes, carvo::Variant(bytes));
            cancelledAt.push_back(std::ranges::count(w.calls, "dl2 Cancel") == 1);
        }
        w.dl2->fire(ev::DLECode, carvo::Variant(std::int32_t{4}));
    };
    w.press();
    EXPECT_EQ(cancelledAt, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(w.form->lblError2->text().toStdString(), kOversizeFailure.text);
    EXPECT_EQ(w.form->lblStatus2->text(), QString::fromUtf8(kRefusedStatus));
    EXPECT_TRUE(w.form->cmdAvancar->isEnabled() && w.form->intStep() == 1);
    EXPECT_FALSE(fs::exists(w.dl2->SaveLocation));
}
