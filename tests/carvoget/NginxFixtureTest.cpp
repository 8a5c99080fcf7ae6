// The nginx fixture and the throwaway certificates, checked with the curl command line tool so
// that a fault in the fixture is not mistaken for a fault in the control.

#include <gtest/gtest.h>

#include <string>

#include "NginxServer.h"
#include "TestCertificates.h"

namespace carvo::test {
namespace {

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7919 + i / 251) & 0xFF);
    return s;
}

ProcessResult curl(std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/curl", "-sS"});
    return runProcess(args);
}

class NginxFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    }
    ScratchFolder dir_{"carvo-nginx-test"};
};

TEST_F(NginxFixture, ServesFilesWholeAndByRangeOnLoopback) {
    const std::string body = pattern(100000);
    storeBytes(dir_ / "f.bin", body);
    NginxServer nginx({dir_.path()});
    EXPECT_EQ(nginx.url("/f.bin"), "http://127.0.0.1:" + std::to_string(nginx.port()) + "/f.bin");

    ProcessResult whole = curl({"-D", "-", "-o", (dir_ / "whole").string(), nginx.url("/f.bin")});
    ASSERT_EQ(whole.exitStatus, 0) << whole.err << nginx.errorLog();
    EXPECT_EQ(whole.out.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(loadBytes(dir_ / "whole"), body);

    ProcessResult part = curl({"-D", "-", "-o", (dir_ / "part").string(), "-H",
                               "Range: bytes=99990-", nginx.url("/f.bin")});
    ASSERT_EQ(part.exitStatus, 0) << part.err;
    EXPECT_EQ(part.out.substr(0, 12), "HTTP/1.1 206");
    EXPECT_NE(part.out.find("Content-Range: bytes 99990-99999/100000"), std::string::npos);
    EXPECT_EQ(loadBytes(dir_ / "part"), body.substr(99990));

    ProcessResult missing = curl({"-o", "/dev/null", "-w", "%{http_code}", nginx.url("/none")});
    EXPECT_EQ(missing.out, "404");
}

TEST_F(NginxFixture, TwoServersRunSideBySideAndStopCleanly) {
    storeBytes(dir_ / "a.txt", "first");
    std::uint16_t firstPort = 0;
    {
        NginxServer one({dir_.path()});
        NginxServer two({dir_.path()});
        firstPort = one.port();
        EXPECT_NE(one.port(), two.port());
        EXPECT_EQ(curl({two.url("/a.txt")}).out, "first");
    }
    // Stopped and waited for: nothing listens there any more.
    ProcessResult after =
        curl({"-o", "/dev/null", "http://127.0.0.1:" + std::to_string(firstPort) + "/a.txt"});
    EXPECT_EQ(after.exitStatus, 7) << after.err;  // curl: could not connect
}

TEST_F(NginxFixture, ServesTlsWithTheThrowawayAuthority) {
    TestCertificates certs = makeTestCertificates(dir_ / "certs");
    storeBytes(dir_ / "s.txt", "secret");
    NginxServer nginx({dir_.path(), true, certs.certFile, certs.keyFile});
    ASSERT_EQ(nginx.url("/s.txt").substr(0, 8), "https://");

    ProcessResult trusted = curl({"--cacert", certs.caFile.string(), nginx.url("/s.txt")});
    EXPECT_EQ(trusted.exitStatus, 0) << trusted.err;
    EXPECT_EQ(trusted.out, "secret");
    // The name in the certificate matches localhost too.
    ProcessResult byName = curl({"--cacert", certs.caFile.string(),
                                 "https://localhost:" + std::to_string(nginx.port()) + "/s.txt"});
    EXPECT_EQ(byName.out, "secret") << byName.err;
    // Without the authority the certificate is not trusted.
    ProcessResult untrusted = curl({nginx.url("/s.txt")});
    EXPECT_EQ(untrusted.exitStatus, 60) << untrusted.err;
}

TEST_F(NginxFixture, BadConfigurationThrowsWithNginxsMessage) {
    // A key file that does not exist: nginx refuses to start and says why.
    NginxOptions o{dir_.path(), true, dir_ / "missing.pem", dir_ / "missing.key"};
    try {
        NginxServer nginx(o);
        FAIL() << "nginx started without its certificate";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("missing.pem"), std::string::npos) << e.what();
    }
}

TEST(RunProcess, PassesInputAndReportsExitStatusAndOutput) {
    ProcessResult r =
        runProcess({"/bin/sh", "-c", "cat; echo oops >&2; exit 3"}, {.input = "hello"});
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(r.out, "hello");
    EXPECT_EQ(r.err, "oops\n");
    // A child that never reads a large input must not hang or kill the caller.
    ProcessResult ignoring = runProcess({"/bin/true"}, {.input = std::string(1 << 20, 'x')});
    EXPECT_EQ(ignoring.exitStatus, 0);
    ProcessResult signalled = runProcess({"/bin/sh", "-c", "kill -TERM $$"});
    EXPECT_EQ(signalled.exitStatus, 128 + 15);
    ScratchFolder wd;
    ProcessResult where = runProcess({"/bin/pwd"}, {.workDir = wd.path()});
    EXPECT_EQ(where.out, wd.path().string() + "\n");
    ProcessResult env = runProcess({"/bin/sh", "-c", "echo $CARVO_X"}, {.env = {"CARVO_X=42"}});
    EXPECT_EQ(env.out, "42\n");
}

}  // namespace
}  // namespace carvo::test
