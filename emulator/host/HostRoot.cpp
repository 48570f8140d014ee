#include "emulator/host/HostRoot.h"

#include <cstdlib>

namespace emu {

std::string DefaultHostRoot() {
    const char* root = std::getenv("SC820_HOST_ROOT");
    if (root != nullptr && *root != '\0') return root;
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state != nullptr && *state != '\0') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/state";
    }
    return base + "/sc820/host";
}

}  // namespace emu
