// The kernel-extension tools of the emulated host: kextload, kextunload, kextstat and kmodstat.
// Each is the sc820-host program started under the tool's name from inside a host root; it
// acts on that root. Output for people goes to `out` (what the utility reads and logs), errors
// to `err`; the result is the exit status, 0 or 1.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace emu {

// Whether a program name is one of the tools.
bool IsDriverTool(const std::string& name);

// The host root that a tool started by `execPath` lives in, or nothing when the path is not
// ROOT/sbin/NAME or ROOT/usr/sbin/NAME of a host. A relative path counts from `cwd`; the final
// link is not followed, since every tool is a link to the one sc820-host program.
std::optional<std::string> ToolHostRoot(const std::string& execPath, const std::string& tool,
                                        const std::string& cwd);

// Runs tool `name` with its arguments (without the program name) on the host at `root`.
int RunDriverTool(const std::string& name, const std::string& root,
                  const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace emu
