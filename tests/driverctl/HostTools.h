// Helpers for tools placed inside an emulated host root and for the host's system log.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TempHost.h"

namespace hosttools {

// The host's own tools are links to the host program: remove before replacing, never write
// through the link.
inline void RemoveTool(const std::string& root, const std::string& tool) {
    std::filesystem::remove(root + tool);
}

inline void InstallTool(const std::string& root, const std::string& tool, const std::string& body) {
    RemoveTool(root, tool);
    std::filesystem::create_directories(std::filesystem::path(root + tool).parent_path());
    WriteFileBytes(root + tool, "#!/bin/sh\n" + body + "\n");
    chmod((root + tool).c_str(), 0755);
}

// A tool that prints exactly the given bytes (NUL bytes included).
inline void InstallPrintingTool(const std::string& root, const std::string& tool,
                                const std::string& bytes) {
    InstallTool(root, tool, "exec cat '" + root + tool + ".out'");
    WriteFileBytes(root + tool + ".out", bytes);
}

// The text of every system log entry (after "PROGRAM[PID]: ") from the given one on, with the
// log's \\ and \n escapes undone (the tests log no other control characters).
inline std::vector<std::string> LogTexts(const TempHost& host, size_t from = 0) {
    std::vector<std::string> texts;
    const std::vector<std::string> lines = host.logLines();
    for (size_t n = from; n < lines.size(); ++n) {
        const std::string text = lines[n].substr(lines[n].find("]: ") + 3);
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            const bool escaped = text[i] == '\\' && i + 1 < text.size();
            out += escaped ? (text[++i] == 'n' ? '\n' : text[i]) : text[i];
        }
        texts.push_back(out);
    }
    return texts;
}

}  // namespace hosttools
