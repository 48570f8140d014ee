// Test helpers for tools placed inside an emulated host root and for the host's system log.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TempHost.h"

namespace hosttools {

inline std::string InRoot(const std::string& root, const std::string& toolPath) {
    return root + toolPath;
}

// Removes a tool. The host's own tools are links to the host program, so a tool is always
// removed before it is replaced: writing through the link would overwrite the host program.
inline void RemoveTool(const std::string& root, const std::string& toolPath) {
    std::error_code ignored;
    std::filesystem::remove(InRoot(root, toolPath), ignored);
}

// Puts an executable shell script at the tool's absolute path inside the host root.
inline void InstallTool(const std::string& root, const std::string& toolPath,
                        const std::string& scriptBody) {
    const std::string path = InRoot(root, toolPath);
    RemoveTool(root, toolPath);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFileBytes(path, "#!/bin/sh\n" + scriptBody + "\n");
    chmod(path.c_str(), 0755);
}

// Installs a tool that prints exactly the given bytes (NUL bytes included) and exits.
inline void InstallPrintingTool(const std::string& root, const std::string& toolPath,
                                const std::string& bytes) {
    const std::string dataPath = InRoot(root, toolPath) + ".out";
    std::filesystem::create_directories(std::filesystem::path(dataPath).parent_path());
    WriteFileBytes(dataPath, bytes);
    InstallTool(root, toolPath, "exec cat '" + dataPath + "'");
}

// Undoes the system log's escapes: \\, \n, \r, \t and \xHH.
inline std::string UnescapeLogText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        if (next == 'n') {
            out += '\n';
        } else if (next == 'r') {
            out += '\r';
        } else if (next == 't') {
            out += '\t';
        } else if (next == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += next;
        }
    }
    return out;
}

// The text of every system log entry (what follows "PROGRAM[PID]: "), unescaped.
inline std::vector<std::string> LogTexts(const TempHost& host) {
    std::vector<std::string> texts;
    for (const std::string& line : host.logLines()) {
        const size_t mark = line.find("]: ");
        texts.push_back(UnescapeLogText(mark == std::string::npos ? line : line.substr(mark + 3)));
    }
    return texts;
}

}  // namespace hosttools
