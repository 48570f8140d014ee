// The card's utility driver: the user client of class "com_tavik_iokit_sc820utl_drvr" and its
// six commands. The user client carries no flash offset, so the driver keeps a read cursor and
// a write cursor in the host state: a chunk command uses its direction's cursor and advances
// it, wrapping after the 17th chunk; any other command, and any use of the other direction,
// puts both back to the start of the flash.
#pragma once

#include <cstdint>
#include <string>

#include "driverif/KernelStatus.h"

namespace emu {

enum class CallForm { structureInput, structureOutput };

// One call of a user-client method, as the connection passes it on.
struct UserClientCall {
    CallForm form = CallForm::structureInput;
    int selector = 0;
    uint32_t scalarCount = 0;
    uint8_t* structure = nullptr;  // the input bytes, or the room for the output
    uint32_t size = 0;             // input size, or the room available for the output
    uint32_t produced = 0;         // output bytes delivered, on success
};

// Runs one call on the utility service `service` of the host at `root`, as one kernel
// operation. Returns the driver's status: kIOReturnBadArgument for a wrong form, size or scalar
// count; kIOReturnNotPermitted when the host's refuse fault for the command is on;
// kIOReturnNotAttached when the service is no longer registered; kIOReturnError when the host's
// files cannot be used (the reason is then in `problem`). A call that fails changes nothing but the
// command counts and leaves the output untouched.
IOReturn CallUtilityDriver(const std::string& root, uint32_t service, UserClientCall& call,
                           std::string* problem = nullptr);

}  // namespace emu
