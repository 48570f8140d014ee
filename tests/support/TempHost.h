// A fresh emulated host in a temporary directory, made with `sc820-host init`, named by
// SC820_HOST_ROOT for the life of the object, and removed afterwards.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "driverif/def.h"

// A temporary directory removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class TempHost {
public:
    TempHost();
    ~TempHost();
    TempHost(const TempHost&) = delete;
    TempHost& operator=(const TempHost&) = delete;

    const std::string& root() const { return root_; }
    // Runs `sc820-host --root ROOT args...`; returns its exit status and fills output with
    // its standard output and standard error.
    int host(const std::vector<std::string>& args, std::string* output = nullptr) const;
    // Runs the command and fails the current test when it does not exit 0.
    std::string hostOk(const std::vector<std::string>& args) const;
    // Swaps the drivers as the utility's start-up would: unloads the card's normal driver and
    // loads the utility's extension from the built bundle. Fails the test when either fails.
    void swapDrivers() const;
    // The system log's entries (one per line).
    std::vector<std::string> logLines() const;
    // The card's EEPROM record, read and written through `sc820-host eeprom get|put`.
    SCSIUTY_CFG eeprom() const;
    void putEeprom(const SCSIUTY_CFG& record) const;
    // The `commands N0..N5` counts of `sc820-host status`.
    std::vector<int> commandCounts() const;

private:
    TempDir scratch_;
    std::string dir_, root_;
    std::optional<std::string> previousRoot_;
};

// The process environment with the given NAME=VALUE entries replacing or added to it; of two
// entries with one name, the later one counts.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra);
// Runs a program with arguments (no shell) and collects what it prints on both streams;
// peakKib, when given, receives the program's peak resident memory.
int RunProgram(const std::vector<std::string>& argv, std::string* output,
               const std::vector<std::string>& extraEnv = {}, long* peakKib = nullptr);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Helpers for tests on an emulated host: distinctive records, the facts of
// `sc820-host status`, tools placed in a host and the system log.
namespace testhost {

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
