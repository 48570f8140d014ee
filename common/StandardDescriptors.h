// Standard input, output and error open before a program opens anything. A program started
// with one of them closed would otherwise get that number for the first file it opens (a lock,
// a record), and its own output, or a child's, would be written into that file.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed; a program that cannot
// ends at once, before anything could be written to the wrong file.
inline void OpenStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest free number is `fd` itself, the ones below it being open.
        const int opened = open("/dev/null", O_RDWR);
        if (opened != fd) _exit(127);
    }
}
