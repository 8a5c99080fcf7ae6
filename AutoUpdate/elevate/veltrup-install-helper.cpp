// veltrup-install-helper: starts a product's checked installer as root, for a user who may not
// write the product's folder. Veltrup runs it through pkexec, which asks for the administrator's
// password (polkit action org.parvix.veltrup.install) and starts it as root with a cleared
// environment:
//
//   veltrup-install-helper <product folder> <Update.ini> <installer>
//
// The product folder is the root-owned folder of Veltrup and links.ini; Update.ini and the
// installer are the files the user downloaded, wherever they are. Nothing from the user's side
// is trusted: the maker's key comes from the product's links.ini, the installed version from
// the machine's registry store, and both count only when nobody but root can change them; the
// user's two files are read with the user's own rights, copied into a folder of root's, checked
// there against the maker's signature, and what runs is the checked copy. Without a key, nothing
// runs: an installer is never run as root unsigned.
//
// Each refusal has its own exit status and one line on standard error. 126 and 127 are left to
// pkexec (dismissed, not authorized), so that the caller can tell them apart.

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "HelperStatus.h"
#include "InstallerCopy.h"
#include "UpdateRules.h"
#include "UpdateVerifier.h"
#include "automation/ComError.h"
#include "frmMain.h"
#include "mdlRegistry.h"
#include "win/UniqueFd.h"

#ifndef VELTRUP_HELPER_STORE
#error "VELTRUP_HELPER_STORE names the registry store the installed version is read from"
#endif

namespace fs = std::filesystem;
using carvo::UniqueFd;

namespace {

using namespace veltrup::helper;

// The version file is a few lines; an installer of more than this is not one Veltrup fetched.
constexpr off_t kVersionFileLimit = 64 * 1024;
constexpr off_t kInstallerLimit = off_t{4} << 30;

struct Refusal {
    Status code;
    std::string why;
};

[[noreturn]] void refuse(Status code, std::string why) { throw Refusal{code, std::move(why)}; }

// One step of a path that only root may change: owned by root, and not writable by its group
// or others (an access list that grants writing shows as the group's write bit). A folder above
// may be writable by others when it is sticky (/tmp): there nobody but root can rename or remove
// the root-owned entry below it, which is all the walk relies on.
bool rootOnly(const struct stat& st, bool last) {
    if (st.st_uid != 0) return false;
    if ((st.st_mode & 022) == 0) return true;
    return !last && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
}

// Opens an absolute path one name at a time from "/", never following a link, each step
// checked with rootOnly; the result is a folder or a regular file as asked. Once this holds, the
// path names the same thing until root changes it, so reading it again by name is safe.
UniqueFd openRootOnly(const fs::path& path, bool folder, Status code, const char* what) {
    if (!path.is_absolute()) refuse(code, std::string(what) + " is not an absolute path");
    UniqueFd at(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (at.get() < 0 || ::fstat(at.get(), &st) != 0 || !rootOnly(st, false))
        refuse(code, "/ is not root's alone");
    std::vector<std::string> names;
    for (const fs::path& part : path.relative_path())
        if (!part.empty()) names.push_back(part.string());
    if (names.empty()) refuse(code, std::string(what) + " is /");
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        if (names[i] == "." || names[i] == "..")
            refuse(code, std::string(what) + " has . or .. in its path");
        const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK |
                          (last && !folder ? 0 : O_DIRECTORY);
        UniqueFd next(::openat(at.get(), names[i].c_str(), flags));
        if (next.get() < 0 || ::fstat(next.get(), &st) != 0)
            refuse(code, std::string(what) + ": cannot open " + names[i] + " (a link, or missing)");
        if (last && !folder && !S_ISREG(st.st_mode))
            refuse(code, std::string(what) + " is not a regular file");
        if (!rootOnly(st, last))
            refuse(code,
                   std::string(what) + ": " + names[i] + " may be changed by others than root");
        at = std::move(next);
    }
    return at;
}

// The user pkexec acts for (PKEXEC_UID, which pkexec itself sets); root when started by root
// directly. Only root can start this program with any environment at all, so this is no door.
uid_t callerUid() {
    const char* text = std::getenv("PKEXEC_UID");
    if (!text || !*text) return ::getuid();
    unsigned long uid = 0;
    const char* end = text + std::char_traits<char>::length(text);
    const auto [ptr, ec] = std::from_chars(text, end, uid);
    if (ec != std::errc() || ptr != end || uid > 0xFFFFFFFEUL)
        refuse(kUsage, "PKEXEC_UID is not a user id");
    return static_cast<uid_t>(uid);
}

// While it lives, files are opened with the caller's rights (effective ids and groups), so the
// user can name only what the user could read anyway: a root-only file is as closed to this
// program as to the user.
class CallerRights {
  public:
    explicit CallerRights(uid_t uid) {
        std::vector<char> buffer(16384);
        struct passwd entry {};
        struct passwd* found = nullptr;
        if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
            refuse(kUserFile, "user " + std::to_string(uid) + " is not known");
        int count = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) count = 0;
        groups.resize(static_cast<std::size_t>(count));
        if (groups.empty()) groups.push_back(found->pw_gid);
        if (::setgroups(groups.size(), groups.data()) != 0 || ::setegid(found->pw_gid) != 0 ||
            ::seteuid(uid) != 0)
            refuse(kUserFile, "cannot take the user's rights");
    }
    ~CallerRights() {
        // Back to root, or nothing after this may run.
        if (::seteuid(0) != 0 || ::setegid(0) != 0 || ::setgroups(0, nullptr) != 0) std::abort();
    }
    CallerRights(const CallerRights&) = delete;
    CallerRights& operator=(const CallerRights&) = delete;
};

// One of the user's files: opened without following a link at its last name, a regular file of
// the caller's own, of at most limit bytes.
UniqueFd openUserFile(const fs::path& path, uid_t uid, off_t limit, const char* what) {
    UniqueFd fd(-1);
    {
        const CallerRights rights(uid);
        fd = UniqueFd(
            ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    }
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
        refuse(kUserFile, std::string(what) + ": cannot open it (a link, missing or not readable)");
    if (!S_ISREG(st.st_mode)) refuse(kUserFile, std::string(what) + " is not a regular file");
    if (st.st_uid != uid) refuse(kUserFile, std::string(what) + " does not belong to the user");
    if (st.st_size > limit) refuse(kUserFile, std::string(what) + " is too large");
    return fd;
}

// A folder of root's, closed to everybody else, removed with what is in it at the end.
class PrivateFolder {
  public:
    PrivateFolder() {
        std::string pattern = "/tmp/veltrup-install-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            refuse(kCannotStart, "cannot make a private folder");
        path_ = pattern;
    }
    ~PrivateFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    const fs::path& path() const { return path_; }

    // Copies what from (read from its start, at most limit bytes) into a new file name here.
    fs::path copy(int from, const std::string& name, off_t limit) const {
        const fs::path to = path_ / name;
        const UniqueFd out(
            ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (out.get() < 0) refuse(kCannotStart, "cannot copy " + name);
        std::vector<char> piece(64 * 1024);
        off_t total = 0;
        for (;;) {
            const ssize_t n = ::pread(from, piece.data(), piece.size(), total);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) refuse(kUserFile, "cannot read " + name);
            if (n == 0) break;
            if ((total += n) > limit) refuse(kUserFile, name + " grew too large");
            for (ssize_t done = 0; done < n;) {
                const ssize_t w =
                    ::write(out.get(), piece.data() + done, static_cast<std::size_t>(n - done));
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) refuse(kCannotStart, "cannot copy " + name);
                done += w;
            }
        }
        return to;
    }

  private:
    fs::path path_;
};

// The installed version as the store records it; a version that cannot be read or does not
// parse is a refusal, never "nothing installed": that would let any older signed release in.
std::int32_t installedVersion() {
    (void)openRootOnly(VELTRUP_HELPER_STORE, false, kUnsafeStore, "the registry store");
    carvo::Variant value;
    try {
        value = veltrup::ReadRegValue(veltrup::HKEY_LOCAL_MACHINE, veltrup::kVersionKey,
                                      veltrup::kVersionValue, VELTRUP_HELPER_STORE);
        if (value.type() == carvo::VarType::Empty)
            refuse(kNoInstalledVersion, "the registry store records no installed version");
        if (value.type() == carvo::VarType::Long) return value.toLong();
        if (value.type() == carvo::VarType::String) return veltrup::versionFromText(value.str());
    } catch (const Refusal&) {
        throw;
    } catch (...) {
    }
    refuse(kUnsafeStore, "the installed version cannot be read from the registry store");
}

// pkexec passes on what the caller's process had: its standard input, the signals it ignored,
// its limits and its niceness. An installer running as root takes none of them: nothing of the
// user's session may answer its questions, and a lowered file-size limit must not cut it off
// halfway through writing the product.
void startFresh() {
    if (const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC); null >= 0) {
        ::dup2(null, STDIN_FILENO);  // dup2 clears close-on-exec on the copy
        if (null != STDIN_FILENO) ::close(null);
    }
    for (int signal = 1; signal < NSIG; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP) ::signal(signal, SIG_DFL);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const struct rlimit unlimited { RLIM_INFINITY, RLIM_INFINITY };
    for (const int resource : {RLIMIT_FSIZE, RLIMIT_CPU, RLIMIT_AS, RLIMIT_DATA})
        ::setrlimit(resource, &unlimited);
    ::setpriority(PRIO_PROCESS, 0, 0);
}

int run(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::puts("veltrup-install-helper " VELTRUP_HELPER_VERSION);
        return kStarted;
    }
    if (::geteuid() != 0) refuse(kNotRoot, "must run as root, through pkexec");
    if (argc != 4)
        refuse(kUsage, "usage: veltrup-install-helper PRODUCT-FOLDER UPDATE.INI INSTALLER");
    ::umask(022);  // an installer running as root makes files for everybody to read
    startFresh();
    const uid_t uid = callerUid();
    const fs::path product = argv[1];

    (void)openRootOnly(product, true, kUnsafeProduct, "the product folder");
    const fs::path links = product / "links.ini";
    (void)openRootOnly(links, false, kUnsafeProduct, "links.ini");
    if (veltrup::ReadProfileString("MAIN", "PublicKey", "", links).empty())
        refuse(kNotSigned,
               "links.ini holds no PublicKey: an unsigned installer never runs as root");
    const std::int32_t installed = installedVersion();

    const fs::path userInstaller = argv[3];
    const std::string shell = userInstaller.filename().string();
    if (!veltrup::isPlainFileName(shell) || shell == "Update.ini")
        refuse(kUserFile, "the installer's name is not a plain file name");
    const UniqueFd versionFd = openUserFile(argv[2], uid, kVersionFileLimit, "Update.ini");
    const UniqueFd installerFd = openUserFile(userInstaller, uid, kInstallerLimit, "the installer");

    const PrivateFolder folder;
    const fs::path versionFile = folder.copy(versionFd.get(), "Update.ini", kVersionFileLimit);
    const veltrup::InstallerCopy copy(folder.copy(installerFd.get(), shell, kInstallerLimit));
    if (!copy.failure().empty()) refuse(kCannotStart, copy.failure());

    // The statement as Veltrup checks it at the version check (a key of links.ini, this
    // product, not expired), then the copy's bytes against it.
    const veltrup::StatementResult statement = veltrup::checkVersionFile(
        versionFile, links, {veltrup::kProductName, std::chrono::system_clock::now(), "Veltrup"});
    // A statement refused here (expired since the window checked it, say) says nothing against
    // the installer's bytes: the user's file stays, and a new check fetches a fresh statement.
    if (!statement.ok() || !statement.verified)
        refuse(kStatementRefused, "the version file is refused: " + statement.reason);
    const veltrup::VerifyResult verified =
        veltrup::verifyUpdate(versionFile, links, copy.fd(), shell);
    if (!verified.ok) refuse(kRefused, "the installer is refused: " + verified.reason);
    std::int32_t offered = 0;
    try {
        offered = veltrup::versionFromText(statement.release.version);  // the signed one
    } catch (const carvo::ComError&) {
        refuse(kNotNewer, "the signed version is not a number");
    }
    if (offered <= installed)
        refuse(kNotNewer, "version " + std::to_string(offered) +
                              " is not newer than the installed " + std::to_string(installed));
    if (const std::string failed = copy.start(product.string()); !failed.empty())
        refuse(kCannotStart, failed);
    return kStarted;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const Refusal& r) {
        std::fprintf(stderr, "veltrup-install-helper: %s\n", r.why.c_str());
        return r.code;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "veltrup-install-helper: %s\n", e.what());
        return kCannotStart;
    }
}
