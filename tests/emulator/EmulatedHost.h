// Helpers for tests on an emulated host: the driver tools, distinctive records and the facts of
// `sc820-host status`.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempHost.h"

namespace testhost {

// Runs ROOT/sbin/NAME or ROOT/usr/sbin/NAME and returns its exit status.
inline int RunTool(const TempHost& host, const std::string& tool,
                   const std::vector<std::string>& args, std::string* output = nullptr) {
    bool inSbin = tool == "kextload" || tool == "kextunload";
    std::vector<std::string> argv = {host.root() + (inSbin ? "/sbin/" : "/usr/sbin/") + tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, output);
}

// 308 bytes that differ from each other and from the default records, padding included.
inline std::string PatternRecord(int seed) {
    std::string record(308, '\0');
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<char>((i * 7 + 13 * seed + 1) & 0xFF);
    return record;
}

// The rest of the status line that starts with `key` and a space ("" when there is none).
inline std::string StatusFact(const TempHost& host, const std::string& key) {
    std::istringstream in(host.hostOk({"status"}));
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
    return "";
}

}  // namespace testhost
