// The two loops every reader and writer of a whole file needs: a read that stops one byte past
// a limit, and a write that retries until everything is written.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <limits>
#include <optional>
#include <string_view>

namespace sc820 {

// Reads `fd` to its end, but never more than `limit` + 1 bytes, so that a caller sees that a
// file is longer than the limit without reading all of it (/dev/zero never ends). `sizeHint`,
// the file's size when it is known, lets a regular file be read in one call. `Buffer` is a
// std::string or a std::vector of bytes. False on a read error, with errno set.
template <typename Buffer>
bool ReadAtMost(int fd, size_t limit, Buffer* out, size_t sizeHint = 0) {
    constexpr size_t kBlock = 64 * 1024;
    const size_t cap = limit == std::numeric_limits<size_t>::max() ? limit : limit + 1;
    // One byte more than the expected size: the read that returns nothing ends the loop.
    size_t room = std::min(sizeHint > 0 ? std::min(sizeHint, cap - 1) + 1 : kBlock, cap);
    out->resize(room);
    size_t done = 0;
    while (done < cap) {
        if (done == out->size()) out->resize(std::min(std::max(out->size() * 2, kBlock), cap));
        ssize_t n = read(fd, out->data() + done, out->size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            out->resize(done);
            return false;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    out->resize(done);
    return true;
}

// Writes all of `bytes`, at `offset` when given (pwrite) or at the file position. False when a
// write fails, with errno set (ENOSPC when the file takes no more bytes).
bool WriteAll(int fd, std::string_view bytes, std::optional<off_t> offset = std::nullopt);

}  // namespace sc820
