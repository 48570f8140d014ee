// An open file descriptor that closes itself on every path out of a scope.
#pragma once

#include <unistd.h>

namespace sc820 {

class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) : fd_(fd) {}
    ~OwnedFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports the result: a failed close can be a failed write (NFS, quotas).
    int close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }
    // Hands the descriptor over to the caller.
    int take() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

}  // namespace sc820
