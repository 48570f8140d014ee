// The bundle's program "test". The utility runs it at start-up through the shell, by the path
// of its own bundle, and counts the lines it prints: exactly ten show that programs in the
// bundle's resources can be found and started from that path.
//
// A program of its own, linked statically where the build allows it, rather than a shell
// script: the path test then costs the shell and one small process, not the shell and a
// second shell that reads and interprets a script.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/StandardDescriptors.h"

int main() {
    OpenStandardDescriptors();
    char text[512];
    int length = 0;
    for (int n = 1; n <= 10; ++n) {
        length += std::snprintf(text + length, sizeof text - static_cast<size_t>(length),
                                "SC820 Utility resource check %d of 10\n", n);
    }
    // One write; a pipe may still take it in pieces.
    for (const char* rest = text; length > 0;) {
        const ssize_t written = write(STDOUT_FILENO, rest, static_cast<size_t>(length));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return 1;
        rest += written;
        length -= static_cast<int>(written);
    }
    return 0;
}
