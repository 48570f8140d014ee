#include "emulator/host/HostRoot.h"

#include <cstdlib>

#include "common/HomeFolder.h"

namespace emu {

std::string DefaultHostRoot() {
    const char* root = std::getenv("SC820_HOST_ROOT");
    if (root != nullptr && *root != '\0') return root;
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state != nullptr && *state != '\0') {
        base = state;
    } else {
        const std::string home = HomeFolder();
        base = (home == "/" ? "" : home) + "/.local/state";
    }
    return base + "/sc820/host";
}

}  // namespace emu
