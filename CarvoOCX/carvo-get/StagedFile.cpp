#include "StagedFile.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace carvo::cli {

namespace {

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Reads and writes that go on after a signal interrupted them.
ssize_t readSome(int fd, void* buffer, std::size_t size) {
    ssize_t n;
    do n = ::read(fd, buffer, size);
    while (n < 0 && errno == EINTR);
    return n;
}

bool writeAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Opens name in the folder without following a link, without blocking on a FIFO, and keeps it
// only when it is a regular file.
int openRegular(int dirFd, const std::string& name, int flags, struct stat& st) {
    const int fd = ::openat(dirFd, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

}  // namespace

StagedFile::StagedFile(const std::string& target) {
    const auto slash = target.rfind('/');
    folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    targetName_ = slash == std::string::npos ? target : target.substr(slash + 1);
    if (targetName_.empty() || targetName_ == "." || targetName_ == "..")
        throw Error("no file name in " + target);
    if (sodium_init() < 0) throw Error("the random source is not available");
    dirFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) throw Error(systemError("cannot open the folder " + folder_));
    try {
        refuseOddTarget();
        reserve();
    } catch (...) {
        ::close(dirFd_);
        throw;
    }
}

StagedFile::~StagedFile() {
    discard();
    ::close(dirFd_);
}

void StagedFile::refuseOddTarget() const {
    struct stat st {};
    if (::fstatat(dirFd_, targetName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(st.st_mode))
        throw Error(folder_ + "/" + targetName_ +
                    " is not a regular file (a link, a folder, a FIFO or a device): nothing is "
                    "written there");
}

void StagedFile::reserve() {
    // A name nobody can guess, made here and now (O_EXCL): no one can have a file or a link
    // ready at it.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::array<unsigned char, 8> random{};
        randombytes_buf(random.data(), random.size());
        std::array<char, 2 * random.size() + 1> hex{};
        sodium_bin2hex(hex.data(), hex.size(), random.data(), random.size());
        const std::string name = ".carvo-get-" + std::string(hex.data()) + ".part";
        const int fd = ::openat(dirFd_, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) throw Error(systemError("cannot create a file in " + folder_));
        ::close(fd);
        stagedName_ = name;
        path_ = (folder_ == "/" ? "" : folder_) + "/" + name;
        present_ = true;
        return;
    }
    throw Error("cannot find a free temporary name in " + folder_);
}

std::int64_t StagedFile::length() const {
    struct stat st {};
    if (::fstatat(dirFd_, stagedName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return 0;
    return st.st_size;
}

int StagedFile::openStaged(int flags) const {
    struct stat st {};
    const int fd = openRegular(dirFd_, stagedName_, flags, st);
    if (fd < 0) throw Error(systemError("cannot open " + path_));
    return fd;
}

void StagedFile::copyFromTarget() {
    struct stat st {};
    const int from = openRegular(dirFd_, targetName_, O_RDONLY, st);
    if (from < 0)
        throw Error(systemError("no partial file to continue at " + folder_ + "/" + targetName_));
    const int to = openStaged(O_WRONLY | O_TRUNC);
    std::vector<unsigned char> buffer(1 << 16);
    bool ok = true;
    for (ssize_t n; ok && (n = readSome(from, buffer.data(), buffer.size())) != 0;)
        ok = n > 0 && writeAll(to, buffer.data(), static_cast<std::size_t>(n));
    const std::string error = ok ? std::string() : systemError("cannot copy the partial file");
    ::close(from);
    if (::close(to) != 0 && ok) throw Error(systemError("cannot copy the partial file"));
    if (!ok) throw Error(error);
}

void StagedFile::restart() {
    discard();
    reserve();
}

std::optional<std::string> StagedFile::check(std::optional<std::int64_t> size,
                                             const std::optional<std::string>& sha256) {
    closeChecked();
    checkedFd_ = openStaged(O_RDONLY);
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<unsigned char> buffer(1 << 16);
    std::int64_t length = 0;
    for (ssize_t n; (n = readSome(checkedFd_, buffer.data(), buffer.size())) != 0;) {
        if (n < 0) return systemError("cannot read " + path_);
        length += n;
        // A file longer than it should be is refused without reading the rest.
        if (size && length > *size) break;
        if (sha256) crypto_hash_sha256_update(&state, buffer.data(), static_cast<std::size_t>(n));
    }
    if (size && length != *size)
        return "the file has " + std::string(length > *size ? "more than " : "") +
               std::to_string(length) + " bytes, not the " + std::to_string(*size) +
               " that --size gives";
    if (sha256) {
        std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
        crypto_hash_sha256_final(&state, digest.data());
        std::array<char, 2 * digest.size() + 1> hex{};
        sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
        if (*sha256 != hex.data())
            return "the file's SHA-256 is " + std::string(hex.data()) +
                   ", not the one --sha256 gives";
    }
    return std::nullopt;
}

void StagedFile::commit() {
    if (checkedFd_ < 0) throw Error("the file was not checked");
    struct stat checked {
    }, named{};
    // On disk before the name points at it, so a crash never leaves a target of zeros.
    if (::fsync(checkedFd_) != 0 || ::fstat(checkedFd_, &checked) != 0)
        throw Error(systemError("cannot write out " + path_));
    if (::fstatat(dirFd_, stagedName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_dev != checked.st_dev || named.st_ino != checked.st_ino)
        throw Error(path_ + " was replaced after it was checked; the target is left as it was");
    refuseOddTarget();
    if (::renameat(dirFd_, stagedName_.c_str(), dirFd_, targetName_.c_str()) != 0)
        throw Error(systemError("cannot put the file in place of " + folder_ + "/" + targetName_));
    present_ = false;
    closeChecked();
    ::fsync(dirFd_);
}

void StagedFile::closeChecked() noexcept {
    if (checkedFd_ >= 0) ::close(checkedFd_);
    checkedFd_ = -1;
}

void StagedFile::discard() noexcept {
    closeChecked();
    if (present_) ::unlinkat(dirFd_, stagedName_.c_str(), 0);
    present_ = false;
}

}  // namespace carvo::cli
