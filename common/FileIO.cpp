#include "common/FileIO.h"

namespace sc820 {

bool WriteAll(int fd, std::string_view bytes, std::optional<off_t> offset) {
    size_t done = 0;
    while (done < bytes.size()) {
        const char* from = bytes.data() + done;
        size_t left = bytes.size() - done;
        ssize_t n = offset ? pwrite(fd, from, left, *offset + static_cast<off_t>(done))
                           : write(fd, from, left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace sc820
