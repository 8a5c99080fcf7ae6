// A signed update fetched by DownLoad controls over TLS from nginx on loopback, with the test's
// own certificate authority handed to the transfer component in code, then checked.

#include <gtest/gtest.h>

#include <memory>

#include "DownLoad.h"
#include "Release.h"
#include "ScriptedHost.h"
#include "TestCertificates.h"
#include "TypeLib.h"

namespace veltrup::test {
namespace {

class Site : public carvo::ContainerSite {
public:
    explicit Site(carvo::HostServices& host) : host_(host) {}
    void onPropertyChanged(std::string_view) override {}
    void requestExtent(const carvo::Extent&) override {}
    carvo::HostServices* hostServices() override { return &host_; }

private:
    carvo::HostServices& host_;
};

// The codes and the completion a control reported.
struct Outcome : carvo::EventSink {
    std::vector<std::int32_t> codes;
    int completions = 0;
    void onEvent(carvo::DispId id, std::span<carvo::Variant> args) override {
        if (id == carvo::eventid::DLECode && !args.empty()) codes.push_back(args[0].toLong());
        if (id == carvo::eventid::DLComplete) ++completions;
    }
};

// One control, as the updater holds it, whose transfer component trusts caFile ("" = only
// the system's authorities).
struct Control {
    carvo::test::ScriptedHost host;
    Site site{host};
    std::shared_ptr<Outcome> outcome = std::make_shared<Outcome>();
    std::unique_ptr<carvo::DownLoad> dl;

    explicit Control(const fs::path& caFile) {
        host.useRealClock(true);
        carvo::DownLoadEnvironment env;
        env.makeTransfer = [ca = caFile.string()](carvo::YieldFn y) {
            return carvo::makeCurlTransfer(y, carvo::TransferOptions{.caFile = ca});
        };
        env.decimalPoint = '.';
        dl = std::make_unique<carvo::DownLoad>(std::move(env));
        dl->setClientSite(&site);
        dl->initNew();
        dl->connectionPoint().advise(outcome);
    }
    void fetch(const std::string& url, const fs::path& target) {
        dl->setSaveLocation(target.string());
        dl->setUrl(url);
        dl->GetFileInformation();
        dl->DownLoadFile();
    }
};

class HttpsUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        if (!carvo::test::NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
        certs_ = carvo::test::makeTestCertificates(web_ / "certs");
        nginx_ = std::make_unique<carvo::test::NginxServer>(
            carvo::test::NginxOptions{web_.path(), true, certs_.certFile, certs_.keyFile});
        ASSERT_EQ(nginx_->url("/").rfind("https://127.0.0.1:", 0), 0u);
        // The maker publishes: the installer and its version file, lines pasted in.
        storeBytes(web_ / "setup.bin", release_.bytes);
        storeBytes(web_ / "Update.ini", "[MAIN]\r\nVersion=3\r\nFile=" + nginx_->url("/setup.bin") +
                                            "\r\nShell=setup.bin\r\n" + release_.lines.text());
        fs::remove(release_.installer());
        fs::remove(release_.versionFile());
    }

    ScratchFolder web_{"veltrup-https"};
    Release release_;  // its folder stands for the program folder, links.ini with the key
    carvo::test::TestCertificates certs_;
    std::unique_ptr<carvo::test::NginxServer> nginx_;
};

TEST_F(HttpsUpdate, FetchesTheVersionFileAndTheInstallerAndAcceptsThem) {
    Control dl1(certs_.caFile), dl2(certs_.caFile);
    dl1.fetch(nginx_->url("/Update.ini"), release_.versionFile());
    EXPECT_EQ(dl1.outcome->codes, std::vector<std::int32_t>{}) << nginx_->errorLog();
    EXPECT_EQ(dl1.outcome->completions, 1);
    dl2.fetch(nginx_->url("/setup.bin"), release_.installer());
    EXPECT_EQ(dl2.outcome->codes, std::vector<std::int32_t>{});
    EXPECT_EQ(dl2.dl->FileSize(), 200'000);

    const VerifyResult result = verifyOrDelete(release_.versionFile(), release_.linksFile(), release_.installer(), "setup.bin");
    EXPECT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(loadBytes(release_.installer()), release_.bytes);
}

TEST_F(HttpsUpdate, AnInstallerChangedOnTheServerIsRefusedAndDeleted) {
    std::string changed = release_.bytes;
    changed[4096] = static_cast<char>(changed[4096] ^ 0x20);
    storeBytes(web_ / "setup.bin", changed);
    Control dl1(certs_.caFile), dl2(certs_.caFile);
    dl1.fetch(nginx_->url("/Update.ini"), release_.versionFile());
    dl2.fetch(nginx_->url("/setup.bin"), release_.installer());
    ASSERT_EQ(dl2.outcome->completions, 1);
    EXPECT_FALSE(verifyOrDelete(release_.versionFile(), release_.linksFile(), release_.installer(), "setup.bin").ok);
    EXPECT_FALSE(fs::exists(release_.installer()));
}

TEST_F(HttpsUpdate, AServerCertificateFromAnUntrustedAuthorityEndsTheProbeWithCode1) {
    const auto otherAuthority = carvo::test::makeTestCertificates(web_ / "other").caFile;
    for (const fs::path& ca : {fs::path(), otherAuthority}) {
        SCOPED_TRACE(ca.empty() ? "system authorities only" : "another authority");
        Control dl(ca);
        dl.dl->setUrl(nginx_->url("/Update.ini"));
        dl.dl->GetFileInformation();
        EXPECT_EQ(dl.outcome->codes, std::vector<std::int32_t>{1});
        EXPECT_EQ(dl.dl->FileSize(), 0);
    }
}

}  // namespace
}  // namespace veltrup::test
