#include "InstallerCopy.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "win/UniqueFd.h"

namespace veltrup {

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

}  // namespace veltrup
