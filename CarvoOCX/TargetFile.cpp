#include "TargetFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "automation/ComError.h"

namespace carvo {

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;

[[noreturn]] void fail(const std::string& what, const std::string& path, int err) {
    throw ComError(hr::FileError, what + " " + path + ": " + std::strerror(err));
}

}  // namespace

TargetFile::TargetFile(const std::string& path, std::int64_t position)
    : flushedTo_(position), path_(path) {
    if (position < 0) throw ComError(hr::InvalidProcedureCall, "Bad file position");
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) fail("cannot open", path, errno);
    buffer_.reserve(kBufferSize);
}

TargetFile::~TargetFile() {
    if (fd_ >= 0) {
        try {
            flush();
        } catch (const std::exception&) {
            // Already on an error path; the caller reports the failure that brought it here.
        }
        ::close(fd_);
    }
}

void TargetFile::write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) throw ComError(hr::FileError, "file not open: " + path_);
    if (buffer_.size() + bytes.size() > kBufferSize) flush();
    if (bytes.size() >= kBufferSize) {
        writeAt(bytes);  // a large piece goes straight to the file
        return;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

void TargetFile::flush() {
    writeAt(buffer_);
    buffer_.clear();
}

void TargetFile::writeAt(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                             static_cast<off_t>(flushedTo_));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("cannot write", path_, errno);
        }
        done += static_cast<std::size_t>(n);
        flushedTo_ += n;
    }
}

void TargetFile::close() {
    if (fd_ < 0) return;
    flush();
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("cannot close", path_, errno);
}

void TargetFile::abandon() {
    buffer_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TargetFile::finish() {
    if (fd_ < 0) throw ComError(hr::FileError, "file not open: " + path_);
    flush();
    if (::ftruncate(fd_, static_cast<off_t>(flushedTo_)) != 0) fail("cannot cut", path_, errno);
    close();
}

bool regularFileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::int64_t fileLength(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail("cannot read the length of", path, errno);
    return st.st_size;
}

}  // namespace carvo
