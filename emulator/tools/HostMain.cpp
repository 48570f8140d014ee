// The sc820-host program. Started under the name of a driver tool (a link in a host's sbin/ or
// usr/sbin/), it is that tool and acts on the host it lives in; otherwise it is the admin
// command.
#include <sys/auxv.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/ProgramPath.h"
#include "emulator/tools/DriverTools.h"
#include "emulator/tools/HostCommand.h"

namespace {

// The path the program was executed by, as the kernel received it (a shell passes the path it
// found on PATH).
std::string ExecutedPath(const char* argv0) {
    const char* path = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    return path != nullptr ? path : argv0;
}

int RunTool(const std::string& tool, const char* argv0, const std::vector<std::string>& args) {
    std::error_code error;
    std::string cwd = std::filesystem::current_path(error).string();
    std::string executed = ExecutedPath(argv0);
    std::optional<std::string> root = emu::ToolHostRoot(executed, tool, cwd);
    if (!root) {
        std::cerr << tool << ": " << executed << " is not a tool inside an emulated host\n";
        return 1;
    }
    return emu::RunDriverTool(tool, *root, args, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string name = std::filesystem::path(argc > 0 ? argv[0] : "").filename().string();
    if (emu::IsDriverTool(name)) return RunTool(name, argc > 0 ? argv[0] : "", args);
    return emu::RunHostCommand(args, sc820::ProgramPath(), std::cout, std::cerr);
}
