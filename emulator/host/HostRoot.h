// Where the emulated host lives when no root is given: shared by the emulator's tools and the
// platform stand-ins that reach it.
#pragma once

#include <string>

namespace emu {

// SC820_HOST_ROOT when set and not empty, else ${XDG_STATE_HOME:-$HOME/.local/state}/sc820/host.
std::string DefaultHostRoot();

}  // namespace emu
