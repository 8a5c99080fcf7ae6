// The running program around frmMain: where it lives, the one-copy lock, the start of the
// installer and the wiring of the real environment.

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QCryptographicHash>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "Library.h"
#include "TypeLib.h"
#include "frmAbout.h"
#include "frmMain.h"
#include "host/QtHost.h"
#include "mdlRegistry.h"
#include "win/UniqueFd.h"

namespace fs = std::filesystem;

namespace veltrup {

std::string folderOf(const fs::path& executable) {
    std::string folder = executable.parent_path().string();
    if (folder.empty()) return ".";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

fs::path runningExecutable() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) exe = QCoreApplication::applicationFilePath().toStdString();
    return exe;
}

// ---- one copy at a time -------------------------------------------------------------------

namespace {

// A real folder (the descriptor was opened without following a link) that belongs to uid and
// that nobody else may enter or write.
bool ownedPrivateFolder(int fd, uid_t uid) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
           (st.st_mode & 077) == 0;
}

int openFolder(const fs::path& folder) {
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The folder name inside parent, made with mode 0700 when missing, both through the parent's
// descriptor and without following a link; its descriptor when it is the user's own and closed
// to others, else -1. A folder that is there is never changed, so one somebody else made stays
// theirs, unused.
int ownFolderIn(int parent, const char* name, uid_t uid) {
    if (parent < 0 || (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST)) return -1;
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && ownedPrivateFolder(fd, uid)) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

// The user's home folder as the password database names it, whatever the environment says.
fs::path homeOf(uid_t uid) {
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir)
        return {};
    return found->pw_dir;
}

}  // namespace

int openUserFolder(uid_t uid, fs::path& folder, const UserFolderPlaces& places) {
    const std::string id = std::to_string(uid);
    // The system's runtime folder of the user, made at log-in: used only when it is the user's.
    folder = places.runtimeRoot / id;
    if (const int fd = openFolder(folder); fd >= 0) {
        if (ownedPrivateFolder(fd, uid)) return fd;
        ::close(fd);
    }
    // Else a folder of our own in the shared temporary folder. Anybody may make this name
    // first, so it is trusted only when it is ours and closed to others.
    folder = places.tempRoot / ("veltrup-" + id);
    {
        const carvo::UniqueFd temp(
            ::open(places.tempRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (const int fd = ownFolderIn(temp.get(), folder.filename().c_str(), uid); fd >= 0)
            return fd;
    }
    // Else, when another user took that name, a folder in the user's home, which only the user
    // (or the system) may write, so nobody else can take the name or swap the folder.
    const fs::path home = places.homeRoot ? *places.homeRoot : homeOf(uid);
    folder = home / ".veltrup";
    if (home.empty()) return -1;
    const carvo::UniqueFd homeFd(::open(home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (homeFd.get() < 0 || ::fstat(homeFd.get(), &st) != 0 ||
        (st.st_uid != uid && st.st_uid != 0) || (st.st_mode & 022) != 0)
        return -1;
    return ownFolderIn(homeFd.get(), ".veltrup", uid);
}

namespace {

std::string lockNameFor(const fs::path& executable) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(executable, ec);
    if (ec) canonical = executable;
    // One lock per program file: two installations are two programs.
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(canonical.string()),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(24);
    return "Veltrup-" + digest.toStdString() + ".lock";
}

}  // namespace

fs::path SingleInstanceLock::lockFileFor(const fs::path& executable,
                                         const UserFolderPlaces& places) {
    fs::path folder;
    const carvo::UniqueFd fd(openUserFolder(::getuid(), folder, places));
    return fd.get() < 0 ? fs::path() : folder / lockNameFor(executable);
}

SingleInstanceLock::SingleInstanceLock(const fs::path& executable, const UserFolderPlaces& places) {
    fs::path folder;
    const carvo::UniqueFd dir(openUserFolder(::getuid(), folder, places));
    if (dir.get() < 0) return;  // no folder to trust: nothing shows another copy, so this one runs
    // Created inside the folder that was checked, through its descriptor. Close-on-exec, so the
    // installer started at the end never inherits the lock.
    const int fd =
        ::openat(dir.get(), lockNameFor(executable).c_str(),
                 O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        fd_ = fd;
        return;
    }
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) heldElsewhere_ = true;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

// ---- the hand-off -------------------------------------------------------------------------

namespace {

constexpr const char* kNotFound = "O arquivo não foi encontrado.";
constexpr const char* kCannotStart = "O sistema não conseguiu executá-lo.";

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Where the copy of the installer is kept. In memory when it fits there with room to spare:
// memory taken by an anonymous file is not given back under pressure, and an installer larger
// than what is free would bring the system's out-of-memory killer onto other programs. A
// larger one goes to an unnamed file on the program folder's disk, where the download itself
// fitted; no folder lists it either, so nobody else can reach or change it.
carvo::UniqueFd makeCopyFile(const std::string& folder, off_t size, bool& sealable) {
    const long freePages = ::sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const bool fitsInMemory = freePages > 0 && pageSize > 0 && size / pageSize < freePages / 2;
    const auto inMemory = [] {
        // Asked for as executable where the system can forbid running such files (the flag
        // is unknown to older systems, which run them anyway).
        constexpr unsigned kExec = 0x0010U;
        int fd = ::memfd_create("veltrup-installer", MFD_CLOEXEC | MFD_ALLOW_SEALING | kExec);
        if (fd < 0 && errno == EINVAL)
            fd = ::memfd_create("veltrup-installer", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        return carvo::UniqueFd(fd);
    };
    const auto onDisk = [&folder] {
        return carvo::UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0700));
    };
    carvo::UniqueFd copy = fitsInMemory ? inMemory() : onDisk();
    sealable = fitsInMemory && copy.get() >= 0;
    if (copy.get() < 0 && fitsInMemory) copy = onDisk();
    // A folder whose file system has no unnamed files: memory it is, as the only way left.
    if (copy.get() < 0 && !fitsInMemory && (errno == EOPNOTSUPP || errno == EISDIR)) {
        copy = inMemory();
        sealable = copy.get() >= 0;
    }
    return copy;
}

}  // namespace

InstallerCopy::InstallerCopy(const std::string& path) {
    const auto slash = path.rfind('/');
    name_ = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    // Looked up once, without following a link; O_NONBLOCK so that a FIFO in its place cannot
    // hold the window, and the regular-file test then refuses it.
    source_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    struct stat st {};
    if (source_ < 0 || ::fstat(source_, &st) != 0 || !S_ISREG(st.st_mode)) {
        failure_ = kNotFound;
        return;
    }
    // An anonymous file: it has no name in any folder, and once sealed (or once this process
    // holds the only descriptor left, read-only) nobody can change its bytes.
    bool sealable = false;
    carvo::UniqueFd copy = makeCopyFile(folder, st.st_size, sealable);
    const auto failed = [this](const char* what) {
        failure_ = std::string("Não foi possível copiá-lo para executar (") + what + ": " +
                   std::strerror(errno) + ").";
    };
    if (copy.get() < 0) {
        failed("create");
        return;
    }
    std::vector<char> piece(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(source_, piece.data(), piece.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failed("read");
            return;
        }
        if (n == 0) break;
        if (!writeAll(copy.get(), piece.data(), static_cast<std::size_t>(n))) {
            failed("write");
            return;
        }
    }
    if (sealable && ::fcntl(copy.get(), F_ADD_SEALS,
                            F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
        failed("seal");
        return;
    }
    // Started through a read-only descriptor: the system refuses to run a file that is open for
    // writing.
    const std::string self = "/proc/self/fd/" + std::to_string(copy.get());
    copy_ = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
    if (copy_ < 0) {
        failed("open");
        return;
    }
}

InstallerCopy::~InstallerCopy() {
    if (copy_ >= 0) ::close(copy_);
    if (source_ >= 0) ::close(source_);
}

std::string InstallerCopy::start(const std::string& workingFolder) const {
    if (copy_ < 0) return failure_.empty() ? kNotFound : failure_;
    // Downloaded files carry no execute permission; the one the user may start by hand later is
    // the file that was taken, through its descriptor. Not needed for this start.
    struct stat st {};
    if (::fstat(source_, &st) == 0 && st.st_uid == ::geteuid())
        ::fchmod(source_, (st.st_mode & 07777) | S_IXUSR);

    // Everything the new processes need is made before the fork: between fork and exec a copy
    // of a threaded program may only make plain system calls.
    std::string argv0 = name_;
    std::array<char*, 2> argv{argv0.data(), nullptr};
    const char* folder = workingFolder.c_str();
    const int program = copy_;
    // Only a "#!" script needs its file open across the exec (its interpreter reads it through
    // /dev/fd/N); a program of machine code gets nothing beyond the standard three.
    std::array<char, 2> head{};
    const bool script =
        ::pread(program, head.data(), head.size(), 0) == 2 && head[0] == '#' && head[1] == '!';
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    const int lastFd = openMax > 0 && openMax < (1 << 20) ? static_cast<int>(openMax) : 1 << 20;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return kCannotStart;
    const carvo::UniqueFd readEnd(pipeFds[0]);
    {
        // The start's outcome comes back through the pipe: an errno when exec failed, nothing
        // (the end closed by a successful exec) when the installer runs.
        const carvo::UniqueFd writeEnd(pipeFds[1]);
        const pid_t child = ::fork();
        if (child < 0) return kCannotStart;
        if (child == 0) {
            const auto fail = [&](int error) {
                (void)!::write(writeEnd.get(), &error, sizeof error);
                ::_exit(127);
            };
            // Detached: a new session, and the installer is a grandchild that this program
            // never waits for.
            ::setsid();
            const pid_t installer = ::fork();
            if (installer < 0) fail(errno);
            if (installer > 0) ::_exit(0);
            sigset_t none;
            ::sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::signal(SIGPIPE, SIG_DFL);
            if (::chdir(folder) != 0) fail(errno);
            // Libraries of this program hold descriptors without close-on-exec (the transfers'
            // wake-up sockets among them); none of them is the installer's business.
            if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
                for (int fd = 3; fd < lastFd; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            if (script && ::fcntl(program, F_SETFD, 0) != 0) fail(errno);
            ::fexecve(program, argv.data(), environ);
            fail(errno);
        }
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    int error = 0;
    ssize_t n;
    while ((n = ::read(readEnd.get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof error)) return kCannotStart;
    return {};
}

std::string startInstaller(const std::string& path, const std::string& workingFolder,
                           const InstallerCheck& check) {
    const InstallerCopy copy(path);
    if (!copy.failure().empty()) return copy.failure();
    if (check && !check(copy.fd()).ok) {
        // Refused now, after an earlier check passed: the file changed in between. It is not
        // what the maker published; nothing may start it later.
        deleteRefusedInstaller(path);
        return kVerifyFailureText;
    }
    return copy.start(workingFolder);
}

// ---- the program --------------------------------------------------------------------------

MainEnvironment programEnvironment(const std::string& programFolder, carvo::HostServices& host,
                                   carvo::WindowList* windows) {
    MainEnvironment env;
    env.programFolder = programFolder;
    env.registryStore = carvo::defaultRegistryPath();
    env.host = &host;
    env.windows = windows;
    // The bytes that run are the bytes checked: the installer is taken once into a private
    // copy, the copy is checked against the version file, and the copy is started.
    env.launchInstaller = [programFolder](const std::string& path) {
        const std::string shell = fs::path(path).filename().string();
        return startInstaller(path, programFolder, [programFolder, shell](int fd) {
            return verifyUpdate(programFolder + "/Update.ini", programFolder + "/links.ini", fd,
                                shell);
        });
    };
    env.createControl = [] { return carvo::createObject(carvo::clsidDownLoad()); };
    env.showAbout = [programFolder](QWidget* owner) {
        frmAbout about(programFolder, owner);
        about.setWindowModality(Qt::ApplicationModal);
        about.exec();
    };
    // The program ends at once, even from inside a transfer: nothing waits for a loop to
    // notice a cancel. Output is flushed; the files the controls wrote are closed by the system.
    env.endProgram = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    return env;
}

std::unique_ptr<carvo::WindowList> desktopWindows() {
    try {
        return carvo::makeX11WindowList();
    } catch (const std::exception&) {
        return nullptr;  // no display to list: nothing can be found running
    }
}

int runProgram(const fs::path& executable, carvo::HostServices* host) {
    SingleInstanceLock lock(executable);
    carvo::QtHost qtHost;
    const std::unique_ptr<carvo::WindowList> windows = desktopWindows();
    MainEnvironment env = programEnvironment(folderOf(executable), host ? *host : qtHost, windows.get());
    env.anotherCopyRunning = [&lock] { return !lock.acquired(); };

    frmMain form(std::move(env));
    qtHost.setParentWindow(&form);
    if (!form.Form_Load()) return 0;
    form.show();
    return QApplication::exec();
}

}  // namespace veltrup
