#include "file/RegularFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <system_error>

namespace carvo {

std::string readRegularFile(const std::filesystem::path& path, std::size_t maxBytes) {
    // Opened without blocking, so that a FIFO or a device in the file's place is refused
    // instead of hanging the reader; read through the descriptor that was checked.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "cannot read " + path.string());
    const struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot read " + path.string());
    if (!S_ISREG(st.st_mode))
        throw std::system_error(EINVAL, std::generic_category(),
                                "cannot read " + path.string() + ": not a regular file");
    std::string text;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            throw std::system_error(errno, std::generic_category(), "cannot read " + path.string());
        if (n == 0) return text;
        if (static_cast<std::size_t>(n) > maxBytes - text.size())
            throw std::system_error(EFBIG, std::generic_category(), "too big " + path.string());
        text.append(buf, static_cast<std::size_t>(n));
    }
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view content) {
    // The temporary file gets a name nobody can guess and is created new, never through a
    // link: a link planted at a known name would otherwise have this writer (perhaps root)
    // write, chmod and chown the file it points at.
    std::filesystem::path tmp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        std::uint64_t r = 0;
        if (::getrandom(&r, sizeof r, 0) != static_cast<ssize_t>(sizeof r))
            throw std::system_error(errno, std::generic_category(), "getrandom");
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", static_cast<unsigned long long>(r));
        tmp = path;
        tmp += suffix;
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && (errno != EEXIST || attempt >= 16))
            throw std::system_error(errno, std::generic_category(), "create " + tmp.string());
    }
    // The replacement keeps who may read the file: the old file's mode and owner, or 0644 for
    // a new one, whatever the writer's umask (a store others cannot read would hide the
    // installed version from them).
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) {
        (void)!::fchown(fd, old.st_uid, old.st_gid);  // allowed to root only; harmless otherwise
        ::fchmod(fd, old.st_mode & 07777);
    } else {
        ::fchmod(fd, 0644);
    }
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            throw std::system_error(err, std::generic_category(), "write " + tmp.string());
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    int err = errno;
    const bool closed = ::close(fd) == 0;
    if (!closed && synced) err = errno;
    if (!synced || !closed) {
        ::unlink(tmp.c_str());
        throw std::system_error(err, std::generic_category(), "flush " + tmp.string());
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        ::unlink(tmp.c_str());
        throw std::system_error(ec, "rename to " + path.string());
    }
}

}  // namespace carvo
