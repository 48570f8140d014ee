// A kernel operation or admin command of the emulated host that cannot be carried out. The
// message is one line for people: it names the host or file and says what is wrong.
#pragma once

#include <stdexcept>
#include <string>

namespace emu {

class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The message for a root that holds no host (missing, or never initialised).
std::string NoHostMessage(const std::string& root);
// The message for a file of the host whose contents cannot be used.
std::string CorruptMessage(const std::string& path, const std::string& why);

}  // namespace emu
