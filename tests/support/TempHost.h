// A fresh emulated host in a temporary directory, made with `sc820-host init`, named by
// SC820_HOST_ROOT for the life of the object, and removed afterwards.
#pragma once

#include <string>
#include <vector>

#include "driverif/def.h"

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
    std::string dir_;
    std::string root_;
    std::string previousRoot_;
    bool hadPreviousRoot_ = false;
};

// A temporary directory removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

private:
    std::string path_;
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
