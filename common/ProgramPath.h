// The path of the running program's executable, as the kernel knows it.
#pragma once

#include <string>

namespace sc820 {

// The absolute path of /proc/self/exe; empty when it cannot be read.
std::string ProgramPath();
// Its file name; "unknown" when the path cannot be read.
std::string ProgramName();

}  // namespace sc820
