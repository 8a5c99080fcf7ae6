// The root helper, started as pkexec starts it: as root, with a cleared environment and the
// caller in PKEXEC_UID. Each refusal leaves the installer unstarted; the good case starts it as
// root in the product folder. The store the testing build reads lies in the build tree.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "Release.h"

namespace veltrup::test {
namespace {

constexpr uid_t kCaller = 65534;  // nobody: an ordinary user without a home
const fs::path kStore = HELPER_STORE;

// Whether nobody but root can change what lies at the path's folders (a sticky folder counts,
// as the helper counts it); the good case needs the build tree so.
bool rootOnlyFolders(fs::path p) {
    for (p = p.parent_path();; p = p.parent_path()) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || st.st_uid != 0 ||
            ((st.st_mode & 022) != 0 && (st.st_mode & S_ISVTX) == 0))
            return false;
        if (p == p.root_path()) return true;
    }
}

// A root-owned product with the maker's key, the store saying version 2, and the user's
// download of a signed version 3 whose installer writes who ran it, and where.
struct Layout {
    ScratchFolder scratch{"veltrup-helper"};
    fs::path product = scratch / "parvix-2002";
    Release r;
    std::string uid = std::to_string(kCaller);

    Layout() {
        fs::create_directories(product);
        fs::permissions(product, fs::perms(0755));
        r.bytes = "#!/bin/sh\n{ id -u; pwd; } > ran.tmp && mv ran.tmp ran.txt\n";
        storeBytes(r.installer(), r.bytes);
        r.lines = r.sign(r.installer());
        r.writeVersion(r.lines.text());
        storeBytes(product / "links.ini", loadBytes(r.linksFile()));
        writeStore("\"Version\"=\"2\"");
        // The download belongs to the caller, in a folder the caller may enter.
        fs::permissions(r.dir.path(), fs::perms(0755));
        for (const fs::path& f : {r.versionFile(), r.installer()}) chown(f, kCaller);
    }
    static void chown(const fs::path& f, uid_t owner) {
        ASSERT_EQ(::lchown(f.c_str(), owner, owner), 0);
    }
    static void writeStore(const std::string& line) {
        fs::create_directories(kStore.parent_path());
        fs::remove(kStore);
        storeBytes(kStore,
                   "Windows Registry Editor Version 5.00\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\Parvix 2002\\Version]\r\n" +
                       line + "\r\n");
        fs::permissions(kStore, fs::perms(0644));
    }
    void resign(const std::string& version, const maker::SignOptions& options = {}) {
        r.lines = r.sign(options, version);
        r.writeVersion(r.lines.text(), version);
        chown(r.versionFile(), kCaller);
    }
    // As pkexec starts it: a cleared environment, the caller in PKEXEC_UID.
    std::vector<std::string> argv() const {
        const char* lsan = std::getenv("LSAN_OPTIONS");
        std::vector<std::string> env = {"/usr/bin/env", "-i", "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                                        "PKEXEC_UID=" + uid,
                                        std::string("LSAN_OPTIONS=") + (lsan ? lsan : "")};
        env.insert(env.end(), {HELPER_EXE, product.string(), r.versionFile().string(),
                               r.installer().string()});
        return env;
    }
};

TEST(InstallHelper, RefusesWhatAnyoneButRootCouldHaveChanged) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, as pkexec starts the helper";
    fs::create_directories(kStore.parent_path());
    if (!rootOnlyFolders(kStore))
        GTEST_SKIP() << "the build tree can be changed by others than root";
    struct Case {
        const char* name;
        std::function<void(Layout&)> change;
        int exit;
    };
    const std::vector<Case> cases = {
        {"group-writable product folder",
         [](Layout& l) { fs::permissions(l.product, fs::perms(0775)); }, 3},
        {"writable folder above it, not sticky",
         [](Layout& l) { fs::permissions(l.scratch.path(), fs::perms(0777)); }, 3},
        {"product folder named through a link",
         [](Layout& l) {
             fs::create_directory_symlink(l.product, l.scratch / "link"),
                 l.product = l.scratch / "link";
         },
         3},
        {"world-writable links.ini",
         [](Layout& l) { fs::permissions(l.product / "links.ini", fs::perms(0646)); }, 3},
        {"no PublicKey",
         [](Layout& l) { storeBytes(l.product / "links.ini", "[MAIN]\nUpdateFile=x\n"); }, 4},
        {"group-writable store", [](Layout&) { fs::permissions(kStore, fs::perms(0664)); }, 5},
        {"installed version unparsable",
         [](Layout&) { Layout::writeStore("\"Version\"=\"5.0.1\""); }, 5},
        {"no installed version", [](Layout&) { Layout::writeStore(""); }, 11},
        {"Update.ini a link",
         [](Layout& l) {
             fs::rename(l.r.versionFile(), l.r.dir / "real.ini");
             fs::create_symlink(l.r.dir / "real.ini", l.r.versionFile());
         },
         6},
        {"installer of root's, not the caller's",
         [](Layout& l) { Layout::chown(l.r.installer(), 0); }, 6},
        {"root-only folder named by the caller",
         [](Layout& l) { fs::permissions(l.r.dir.path(), fs::perms(0700)); }, 6},
        {"unsigned version file",
         [](Layout& l) { l.r.writeVersion(""), Layout::chown(l.r.versionFile(), kCaller); }, 10},
        {"last byte changed",
         [](Layout& l) {
             storeBytes(l.r.installer(), l.r.bytes.substr(0, l.r.bytes.size() - 1) + "#");
         },
         7},
        {"expired statement",
         [](Layout& l) {
             maker::SignOptions expired;
             expired.expires = std::chrono::floor<std::chrono::seconds>(
                 std::chrono::system_clock::now() - std::chrono::hours(2));
             l.resign("3", expired);
         },
         10},
        {"same version as installed", [](Layout& l) { l.resign("2"); }, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Layout l;
        c.change(l);
        const auto result = carvo::test::runProcess(l.argv());
        EXPECT_EQ(result.exitStatus, c.exit) << result.err;
        EXPECT_NE(result.err.find("veltrup-install-helper: "), std::string::npos);
        EXPECT_FALSE(fs::exists(l.product / "ran.txt"));
        fs::remove(kStore);
    }

    // The good case: the signed, newer installer runs as root, in the product folder, and the
    // user's download stays where it was.
    Layout l;
    const auto result = carvo::test::runProcess(l.argv());
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    // It runs detached, after the helper has ended; its mark appears whole, by a rename.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(l.product / "ran.txt") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(l.product / "ran.txt"));
    EXPECT_EQ(loadBytes(l.product / "ran.txt"), "0\n" + l.product.string() + "\n");
    EXPECT_EQ(loadBytes(l.r.installer()), l.r.bytes);
}

TEST(InstallHelper, RefusesToRunAsAnyoneButRoot) {
    std::vector<std::string> argv = {HELPER_EXE, "/opt/parvix-2002", "/tmp/Update.ini",
                                     "/tmp/setup"};
    if (::geteuid() == 0)
        argv.insert(argv.begin(),
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    const auto result = carvo::test::runProcess(argv);
    EXPECT_EQ(result.exitStatus, 2) << result.err;
}

}  // namespace
}  // namespace veltrup::test
