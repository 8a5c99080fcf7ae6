#pragma once
// A file descriptor closed on every way out of the scope that owns it.

#include <unistd.h>

namespace carvo {

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace carvo
