// The emulated kernel as the registry stand-in reaches it. Every rule about the registry, the
// card and its drivers, and every fault switch, is decided here; the stand-in only turns the
// platform's calls and handles into these calls. Each call is one kernel operation on the host
// at `root` that only reads the kernel state, without the host lock (HostView.h says why that
// is safe); the driver's commands, which change the card and the driver's state, take the lock
// (UtilityDriver.h). When the host cannot be used, the reason is put into `problem` (one line for
// people) and the status says the call failed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driverif/KernelStatus.h"
#include "emulator/host/AuthPolicy.h"

namespace emu {

// A registry entry as a handle remembers it.
struct ServiceRef {
    uint32_t id = 0;
    std::string className;
};

enum class MatchBy { className, name };

// The registry's master port: fails while the master-port fault is on.
IOReturn KernelMasterPort(const std::string& root, std::string* problem);
// Whether a matching request can be made: not while the matching fault is on. A host that
// cannot be read does not stop the request here; the search that follows fails on its own.
bool KernelMatchingAvailable(const std::string& root, std::string* problem);
// The registered entries whose class or name is `value`, in registration order; fails while
// the search fault is on.
IOReturn KernelMatchServices(const std::string& root, MatchBy by, const std::string& value,
                             std::vector<ServiceRef>* found, std::string* problem);
// The entry that `id` hangs from in the service plane.
IOReturn KernelParentEntry(const std::string& root, uint32_t id, ServiceRef* parent,
                           std::string* problem);
// Opens a connection of `type` to the service `id` for the calling process: only a registered
// service that offers a user client, type 0, while the open fault is off, and only for the one
// process that owns the utility driver's user client.
IOReturn KernelOpenUserClient(const std::string& root, uint32_t id, uint32_t type,
                              std::string* problem);
// How the host answers a request for rights that needs the user; nothing when the host cannot
// be read.
std::optional<AuthPolicy> KernelAuthorizationPolicy(const std::string& root, std::string* problem);

}  // namespace emu
