#include "TargetFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

namespace carvo {

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;

[[noreturn]] void fail(const std::string& what, const std::string& path, int err) {
    throw ComError(hr::FileError, what + " " + path + ": " + std::strerror(err));
}

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

}  // namespace

TargetFile::TargetFile(const std::string& path, Mode mode) : path_(path) {
    // O_NOFOLLOW: a link at the name is refused, dangling or not, so nothing is ever written
    // where a link points. O_NONBLOCK: opening a FIFO or a device must not wait for a reader.
    int flags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (mode != Mode::Existing) flags |= O_CREAT;
    if (mode == Mode::New) flags |= O_EXCL;
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0) {
        const int err = errno;
        if (err == ENOENT && mode == Mode::Existing)
            throw Missing(hr::FileError, "no file at " + path);
        if (err == EEXIST)
            throw ComError(hr::FileError, "refused " + path + ": something appeared at the name");
        if (err == ELOOP)
            throw ComError(hr::FileError, "refused " + path + ": it is a symbolic link");
        if (err == ENXIO) throw ComError(hr::FileError, "refused " + path + ": not a regular file");
        fail("cannot open", path, err);
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int err = errno;
        ::close(std::exchange(fd_, -1));
        fail("cannot read", path, err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(std::exchange(fd_, -1));
        throw ComError(hr::FileError, "refused " + path + ": " + kindOf(st.st_mode));
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    // A regular file: ordinary blocking writes from here on.
    const int fl = ::fcntl(fd_, F_GETFL);
    if (fl < 0 || ::fcntl(fd_, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        fail("cannot open", path, err);
    }
    buffer_.reserve(kBufferSize);
}

TargetFile::~TargetFile() {
    try {
        close();
    } catch (const std::exception&) {
        // Already on an error path; the caller reports the failure that brought it here.
    }
}

std::int64_t TargetFile::length() const {
    struct stat st {};
    if (fd_ < 0) throw ComError(hr::FileError, "file not open: " + path_);
    if (::fstat(fd_, &st) != 0) fail("cannot read the length of", path_, errno);
    return st.st_size;
}

void TargetFile::start(std::int64_t position) {
    if (position < 0) throw ComError(hr::InvalidProcedureCall, "Bad file position");
    flushedTo_ = position;
    started_ = true;
}

void TargetFile::write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0 || !started_) throw ComError(hr::FileError, "file not open: " + path_);
    if (buffer_.size() + bytes.size() > kBufferSize) flush();
    if (bytes.size() >= kBufferSize) {
        writeAt(bytes);  // a large piece goes straight to the file
        return;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

void TargetFile::flush() {
    const std::int64_t from = flushedTo_;
    try {
        writeAt(buffer_);
    } catch (...) {
        // What the system took stays counted, so a cut keeps it.
        buffer_.erase(buffer_.begin(),
                      buffer_.begin() + static_cast<std::ptrdiff_t>(flushedTo_ - from));
        throw;
    }
    buffer_.clear();
}

void TargetFile::writeAt(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    // Everything before the write position is ours or the measured prefix, so the file is at
    // least that long. Shorter means someone cut it meanwhile: writing on would leave a hole of
    // zeros in the middle that no later length check can see.
    if (length() < flushedTo_)
        throw ComError(hr::FileError, "the file was cut during the transfer: " + path_);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n =
            ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(flushedTo_));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("cannot write", path_, errno);
        }
        done += static_cast<std::size_t>(n);
        flushedTo_ += n;
    }
}

void TargetFile::cut() {
    // Whatever an older, longer file held beyond what this run wrote goes: the file is always
    // a clean prefix of the body from its offset on.
    // Only ever shorter: a file someone else cut stays cut rather than grow a hole of zeros.
    if (length() > flushedTo_ && ::ftruncate(fd_, static_cast<off_t>(flushedTo_)) != 0)
        fail("cannot cut", path_, errno);
}

void TargetFile::close() {
    if (fd_ < 0) return;
    std::exception_ptr failure;
    if (started_) {
        try {
            flush();
        } catch (...) {
            failure = std::current_exception();
        }
        try {
            cut();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    buffer_.clear();
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && !failure) fail("cannot close", path_, errno);
    if (failure) std::rethrow_exception(failure);
}

void TargetFile::finish() {
    if (fd_ < 0 || !started_) throw ComError(hr::FileError, "file not open: " + path_);
    flush();
    cut();
    // The path must still name the file written, at the length written: a file deleted,
    // renamed away or replaced by a link meanwhile is not a completed download.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) != 0) fail("the downloaded file is gone:", path_, errno);
    if (st.st_dev != device_ || st.st_ino != inode_ || !S_ISREG(st.st_mode))
        throw ComError(hr::FileError, "the downloaded file was replaced: " + path_);
    if (st.st_size != flushedTo_)
        throw ComError(hr::FileError, "the downloaded file changed its length: " + path_);
    close();
}

bool regularFileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace carvo
