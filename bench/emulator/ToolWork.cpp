// The child of tool_bench that measures a driver tool's own work: it runs the tools named on
// its command line, one after another, inside this process (cold, as a freshly started tool
// runs them) against the host at ROOT, and prints "work NANOSECONDS" for all of them together.
// Process start, the dynamic loader and exit are not in the figure: they are what /bin/true
// costs too. Usage: tool-work ROOT TOOL [ARGUMENT] [-- TOOL [ARGUMENT]]...
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/tools/DriverTools.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: tool-work ROOT TOOL [ARGUMENT] [-- TOOL [ARGUMENT]]...\n");
        return 2;
    }
    // The command line split at "--" into one tool and its arguments each.
    std::vector<std::vector<std::string>> tools(1);
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--") {
            tools.emplace_back();
        } else {
            tools.back().push_back(argv[i]);
        }
    }
    const auto start = std::chrono::steady_clock::now();
    for (const auto& tool : tools) {
        std::ostringstream out, err;
        const std::vector<std::string> args(tool.begin() + 1, tool.end());
        if (emu::RunDriverTool(tool.front(), argv[1], args, out, err) != 0) {
            std::fprintf(stderr, "tool-work: %s failed: %s\n", tool.front().c_str(),
                         err.str().c_str());
            return 1;
        }
    }
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    std::printf("work %lld\n", static_cast<long long>(nanos));
    return 0;
}
