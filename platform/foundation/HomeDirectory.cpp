// NSHomeDirectory: $HOME, else the user's entry in the password database.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/foundation/Foundation.h"

NSString NSHomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return NSString(home);
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return NSString(found->pw_dir);
    }
    return NSString("/");
}
