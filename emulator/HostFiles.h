// The files of one emulated host, and how they are read and replaced.
#pragma once

#include <string>
#include <string_view>

namespace emu {

// Where each part of a host lives under its root directory.
class HostPaths {
public:
    explicit HostPaths(std::string root);
    const std::string& root() const { return root_; }
    std::string stateDir() const { return root_ + "/var/db/sc820"; }
    std::string lockFile() const { return stateDir() + "/lock"; }
    std::string stateFile() const { return stateDir() + "/state.json"; }
    std::string driverStateFile() const { return stateDir() + "/driver.bin"; }
    std::string eepromFile() const { return stateDir() + "/eeprom.bin"; }
    std::string factoryFile() const { return stateDir() + "/factory.bin"; }
    std::string flashFile() const { return stateDir() + "/flash.bin"; }
    std::string logDir() const { return root_ + "/var/log"; }
    std::string systemLog() const { return logDir() + "/system.log"; }
    // A driver tool's path: kextload and kextunload in sbin/, the status tools in usr/sbin/.
    std::string tool(std::string_view name) const;

private:
    std::string root_;
};

// How a replacement must survive trouble. Both kinds are atomic for readers and for a process
// killed at any moment: the new contents go to a temporary file that is renamed over the old
// one. `durable` also flushes the new file to the disk first, which costs a few hundred
// microseconds; the JSON state is replaced without that flush.
enum class Durability { processSafe, durable };

// Replaces a file's contents atomically. Throws HostError on failure; the old file then stays.
void ReplaceFile(const std::string& path, std::string_view bytes, Durability durability);

// Reads a whole file. Returns false when it does not exist; throws HostError on other errors.
bool ReadWholeFile(const std::string& path, std::string* bytes);

// Reads a file that must hold exactly `size` bytes; anything else is reported as corrupt.
std::string ReadSizedFile(const std::string& path, size_t size);

}  // namespace emu
