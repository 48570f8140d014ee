// Who may talk to the card's utility driver. The card serves one utility process at a time: the
// first process that opens the driver's user client owns it until that process ends, so that a
// second utility can never interleave its commands with a flash sweep or a store in progress.
// Ownership is an advisory lock on a file in the host's state folder, held on a descriptor the
// owning process keeps open until it exits; a process that is killed lets it go at once.
#pragma once

#include <string>

#include "driverif/KernelStatus.h"
#include "emulator/host/HostFiles.h"

namespace emu {

// The file whose lock marks the owner of the utility driver's user client.
std::string UtilityClientLockFile(const HostPaths& paths);

// Makes the calling process the owner of the utility driver's user client of the host, or
// confirms that it already is. Returns kIOReturnSuccess then, kIOReturnExclusiveAccess while
// another process owns it, and kIOReturnError (with the reason in `problem`) when the lock file
// cannot be used. The descriptor is close-on-exec, so tools the owner starts never inherit
// ownership.
IOReturn ClaimUtilityClient(const HostPaths& paths, std::string* problem = nullptr);

}  // namespace emu
