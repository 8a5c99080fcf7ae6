#include "SingleInstanceLock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "win/UniqueFd.h"

namespace fs = std::filesystem;

namespace veltrup {

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

}  // namespace

fs::path homeOf(uid_t uid) {
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir)
        return {};
    return found->pw_dir;
}

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

}  // namespace veltrup
