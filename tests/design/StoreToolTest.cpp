// carvo-reg, the store's command line, and the refusals of the two tools that write the store:
// a value set, read and deleted through the program as a product's maintainer scripts do, with
// every other line of the file kept; and a user without the rights told so, with the command
// to run as root.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "NginxServer.h"  // runProcess, ScratchFolder, loadBytes, storeBytes

namespace carvo::test {
namespace {

const std::string kKey = "HKEY_LOCAL_MACHINE\\Software\\Parvix 2002\\Version";

ProcessResult reg(const std::filesystem::path& store, std::vector<std::string> args) {
    std::vector<std::string> argv{CARVO_REG_TOOL, "--store", store.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv);
}

TEST(StoreTool, SetsReadsAndDeletesAValueKeepingEveryOtherLine) {
    ScratchFolder dir;
    const auto store = dir / "registry.reg";
    const std::string before =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "; mantido à mão\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Outro]\r\n"
        "\"Key\"=\"value\"\r\n"
        "\"Plain\"=unquoted\r\n";
    storeBytes(store, before);

    struct Case {
        std::vector<std::string> set;
        std::string read;
    };
    const Case cases[] = {
        {{"set", kKey, "Version", "3"}, "3\n"},
        {{"set", "HKLM\\Software\\Parvix 2002\\Version", "Version", "Versão 4 \"beta\""},
         "Versão 4 \"beta\"\n"},
        {{"set", kKey, "Version", "0x2a", "--type", "dword"}, "42\n"},
        {{"set", kKey, "Version", "4294967295", "--type", "dword"}, "4294967295\n"},
        {{"set", kKey, "", "%HOME%", "--type", "expand_sz"}, "%HOME%\n"},
    };
    for (const auto& c : cases) {
        auto set = reg(store, c.set);
        ASSERT_EQ(set.exitStatus, 0) << c.set[3] << ": " << set.err;
        auto get = reg(store, {"get", kKey, c.set[2]});
        EXPECT_EQ(get.exitStatus, 0) << get.err;
        EXPECT_EQ(get.out, c.read) << c.set[3];
    }
    EXPECT_EQ(reg(store, {"get", kKey, "Outro"}).exitStatus, 1);
    EXPECT_EQ(reg(store, {"set", kKey, "Version", "4294967296", "--type", "dword"}).exitStatus, 2);
    EXPECT_EQ(reg(store, {"set", "Software\\Parvix", "Version", "3"}).exitStatus, 2);
    EXPECT_EQ(reg(store, {"delete", "HKLM"}).exitStatus, 2);

    // The product's postrm: its values go, then the keys they leave empty; twice is no error.
    for (const char* name : {"Version", "", "Version"})
        EXPECT_EQ(reg(store, {"delete", kKey, name}).exitStatus, 0) << name;
    EXPECT_EQ(loadBytes(store), before);
    EXPECT_EQ(reg(store, {"delete", "HKLM\\Software\\Outro"}).exitStatus, 0);
    EXPECT_EQ(loadBytes(store).find("Outro"), std::string::npos);
}

// Run as a user who may not write the store: nobody, when the tests run as root.
TEST(StoreTool, ARefusedWriteSaysSoAndHowToRunAsRoot) {
    ScratchFolder dir;
    const auto store = dir / "registry.reg";
    storeBytes(store, "Windows Registry Editor Version 5.00\n");
    std::vector<std::string> asUser;
    if (::geteuid() == 0) {
        asUser = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    } else {
        std::filesystem::permissions(dir.path(), std::filesystem::perms(0555));
    }
    struct Case {
        std::vector<std::string> command;
        std::string advice;
    };
    const Case cases[] = {
        {{CARVO_REG_TOOL, "--store", store.string(), "set", kKey, "Version", "3"},
         "Run it as root: sudo carvo-reg --store " + store.string() +
             " set 'HKEY_LOCAL_MACHINE\\Software\\Parvix 2002\\Version' Version 3"},
        {{CARVO_REGSVR, "--store", store.string(), CARVO_LIBRARY_FILE},
         "You have no permission to change the registry store " + store.string()},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = asUser;
        argv.insert(argv.end(), c.command.begin(), c.command.end());
        auto result = runProcess(argv);
        EXPECT_EQ(result.exitStatus, 1) << c.command[0];
        EXPECT_NE(result.err.find(c.advice), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("Run it as root: sudo"), std::string::npos) << result.err;
    }
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0700));
    EXPECT_EQ(loadBytes(store), "Windows Registry Editor Version 5.00\n");
}

// A store grown past the size a store may have is never written again: the tools say so, with
// the limit, for registering and unregistering alike, rather than a bare status code.
TEST(StoreTool, AStorePastItsLimitIsToldWithTheLimit) {
    ScratchFolder dir;
    const auto store = dir / "registry.reg";
    storeBytes(store, "Windows Registry Editor Version 5.00\n");
    std::filesystem::resize_file(store, (64u << 20) + 1);  // one byte past 64 MiB
    for (const char* u : {"", "-u"}) {
        std::vector<std::string> argv{CARVO_REGSVR, "--store", store.string(), CARVO_LIBRARY_FILE};
        if (*u) argv.insert(argv.begin() + 1, u);
        const auto result = runProcess(argv);
        EXPECT_EQ(result.exitStatus, 1) << u;
        EXPECT_NE(result.err.find("a store may hold at most 64 MiB. Nothing was written."),
                  std::string::npos)
            << result.err;
    }
    EXPECT_EQ(std::filesystem::file_size(store), (64u << 20) + 1);
}

}  // namespace
}  // namespace carvo::test
