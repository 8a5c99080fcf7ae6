// veltrup-sign as the maker runs it: the key files it leaves, and the lines it prints.

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>

#include <utility>
#include <vector>

#include "Release.h"

namespace veltrup::test {
namespace {

using carvo::test::ProcessResult;
using carvo::test::runProcess;

ProcessResult tool(std::vector<std::string> args) {
    args.insert(args.begin(), VELTRUP_SIGN_TOOL);
    return runProcess(args);
}

TEST(SignTool, KeygenWritesAnOwnerOnlyKeyAndNeverOverwritesOne) {
    ScratchFolder dir("veltrup-sign");
    const fs::path keys = dir / "keys";
    ProcessResult made = tool({"keygen", keys.string()});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    struct stat st {};
    ASSERT_EQ(::stat((keys / "maker.key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(keys.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const std::string publicKey = loadBytes(keys / "maker.pub");
    EXPECT_EQ(made.out, "PublicKey=" + publicKey);
    EXPECT_EQ(publicKey.size(), 45u);  // 44 characters and a line end

    const std::string secret = loadBytes(keys / "maker.key");
    ProcessResult again = tool({"keygen", keys.string()});
    EXPECT_EQ(again.exitStatus, 1);
    EXPECT_NE(again.err.find("refusing"), std::string::npos) << again.err;
    EXPECT_EQ(loadBytes(keys / "maker.key"), secret);
    EXPECT_EQ(loadBytes(keys / "maker.pub"), publicKey);

    // Half a pair left behind: nothing is written next to it.
    fs::remove(keys / "maker.key");
    EXPECT_EQ(tool({"keygen", keys.string()}).exitStatus, 1);
    EXPECT_FALSE(fs::exists(keys / "maker.key"));
}

TEST(SignTool, PrintedLinesPastedIntoTheVersionFileVerify) {
    Release r;
    ProcessResult made = tool({"keygen", (r.dir / "mine").string()});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    // The name defaults to the installer's own.
    ProcessResult signedOut = tool({"sign", (r.dir / "mine" / "maker.key").string(), r.installer().string(), "3"});
    ASSERT_EQ(signedOut.exitStatus, 0) << signedOut.err;
    EXPECT_EQ(signedOut.err, "");
    EXPECT_EQ(signedOut.out.rfind("Version=3\nShell=setup.bin\nSize=200000\nSHA256=" +
                                      r.lines.sha256 + "\nProduct=Parvix 2002\nStatementSignature=",
                                  0),
              0u)
        << signedOut.out;

    r.writeLinks(made.out);
    r.writeVersion(signedOut.out);
    EXPECT_TRUE(r.verify().ok) << r.verify().reason;
    const auto verify = [&] {
        return tool({"verify", r.linksFile().string(), r.versionFile().string(), r.installer().string()});
    };
    EXPECT_EQ(verify().exitStatus, 0) << verify().out;
    // With the old line too, for copies installed before the statement: they check it over the
    // installer's bytes alone, and this check passes the file all the same.
    ProcessResult both = tool({"sign", "--with-old-signature", (r.dir / "mine" / "maker.key").string(),
                               r.installer().string(), "3"});
    const auto old = release::decodeBase64(both.out.substr(both.out.find("\nSignature=") + 11, 88), 64);
    const auto key = release::decodeBase64(made.out.substr(10, 44), 32);
    ASSERT_TRUE(old && key) << both.out;
    crypto_sign_state state;
    crypto_sign_init(&state);
    crypto_sign_update(&state, reinterpret_cast<const unsigned char*>(r.bytes.data()), r.bytes.size());
    EXPECT_EQ(crypto_sign_final_verify(&state, old->data(), key->data()), 0);
    r.writeVersion(both.out);
    EXPECT_TRUE(r.verify().ok) << r.verify().reason;
    // The release's own key did not sign this one.
    r.writeLinks("PublicKey=" + r.keys.publicKey + "\n");
    EXPECT_EQ(verify().exitStatus, 1);
    EXPECT_EQ(verify().out.rfind("refused: ", 0), 0u);
    // Unsigned, but under a name Veltrup refuses before any download.
    r.writeLinks("");
    r.writeVersion("", "3", "../setup.bin");
    EXPECT_EQ(verify().out.rfind("refused: ", 0), 0u) << verify().out;
}

TEST(SignTool, VerifyAppliesVeltrupsRulesAndTheExpiryAsAtNow) {
    Release r;
    const std::string key = r.keys.secretFile.string();
    const auto sign = [&](const std::string& expires) {
        return tool({"sign", "--now", "2027-01-01T00:00:00Z", "--expires", expires, key,
                     r.installer().string(), "3"});
    };
    EXPECT_NE(sign("30d").out.find("\nExpires=2027-01-31T00:00:00Z\n"), std::string::npos);
    ProcessResult signedOut = sign("2027-01-31T12:00:00Z");
    ASSERT_EQ(signedOut.exitStatus, 0) << signedOut.err;
    r.writeLinks("PublicKey=" + r.keys.publicKey + "\nRequireExpiry=1\n");
    r.writeVersion(signedOut.out);
    const auto verify = [&](std::vector<std::string> options) {
        std::vector<std::string> args{"verify"};
        args.insert(args.end(), options.begin(), options.end());
        for (const fs::path& file : {r.linksFile(), r.versionFile(), r.installer()})
            args.push_back(file.string());
        return tool(args);
    };
    EXPECT_EQ(verify({"--now", "2027-01-31T13:00:00Z"}).exitStatus, 0);  // the hour's margin
    EXPECT_EQ(verify({"--now", "2027-01-31T13:00:01Z"}).out.rfind("refused: expired: ", 0), 0u);
    EXPECT_EQ(verify({"--now", "2027-01-02T00:00:00Z", "--product", "Outro 2003"})
                  .out.rfind("refused: wrong product: ", 0),
              0u);
    // Expiries that would sign nothing useful, and times that are none.
    for (const std::string bad : {"0d", "30x", "d", "-1d", "2026-12-31T23:59:59Z",
                                  "2027-01-01T00:00:00Z", "2027-01-31 12:00:00"}) {
        SCOPED_TRACE(bad);
        ProcessResult refused = sign(bad);
        EXPECT_EQ(refused.exitStatus, 1);
        EXPECT_EQ(refused.out, "");
    }
    EXPECT_EQ(verify({"--now", "yesterday"}).exitStatus, 1);
    EXPECT_EQ(verify({"--now"}).exitStatus, 2);
    // Unsigned version files with what Veltrup cannot compare or would not save under.
    r.writeLinks("");
    for (const auto& [version, shell] : std::vector<std::pair<std::string, std::string>>{
             {"5.0.1", "setup.bin"}, {"99999999999", "setup.bin"}, {"3", "link\u017f.ini"}}) {
        r.writeVersion("", version, shell);
        EXPECT_EQ(verify({}).out.rfind("refused: ", 0), 0u) << version << " " << shell;
    }
}

TEST(SignTool, CommandLineMistakesAndMissingFiles) {
    Release r;
    EXPECT_EQ(tool({}).exitStatus, 2);
    EXPECT_EQ(tool({"sign", r.keys.secretFile.string()}).exitStatus, 2);
    // The old form, without the version, signs nothing.
    EXPECT_EQ(tool({"sign", r.keys.secretFile.string(), r.installer().string()}).exitStatus, 2);
    // A version or a name the updater would read back otherwise, or refuse, is not signed.
    const std::vector<std::pair<std::string, std::string>> unsignable = {
        {"3", "../setup.bin"},
        {"3", "links.ini"},
        {"3", "setup\xff.bin"},
        {"3", "setup\x01.bin"},
        {"3", " setup.bin"},
        {" 3", "setup.bin"},
        {"\"3\"", "setup.bin"},
        {"", "setup.bin"},
        {std::string(128, '9'), "setup.bin"},
        {"3", "Veltrup"},
        // What Veltrup cannot compare, and a name its Unicode case folding takes for links.ini.
        {"5.0.1", "setup.bin"},
        {"abc", "setup.bin"},
        {"3,5", "setup.bin"},
        {"&H10", "setup.bin"},
        {"99999999999", "setup.bin"},
        {"3", "link\u017f.ini"},
    };
    for (const auto& [version, name] : unsignable) {
        SCOPED_TRACE(version + " " + name);
        ProcessResult refused = tool({"sign", r.keys.secretFile.string(), r.installer().string(), version, name});
        EXPECT_EQ(refused.exitStatus, 1);
        EXPECT_EQ(refused.out, "");
    }
    EXPECT_EQ(tool({"publish", "x"}).exitStatus, 2);
    ProcessResult help = tool({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("keygen DIR"), std::string::npos);
    EXPECT_EQ(tool({"sign", (r.dir / "none.key").string(), r.installer().string(), "3"}).exitStatus, 1);
    EXPECT_EQ(tool({"sign", r.keys.secretFile.string(), (r.dir / "none.bin").string(), "3"}).exitStatus, 1);
    ProcessResult notAFolder = tool({"keygen", r.installer().string()});
    EXPECT_EQ(notAFolder.exitStatus, 1);
    EXPECT_NE(notAFolder.err.find("not a folder"), std::string::npos);
}

}  // namespace
}  // namespace veltrup::test
