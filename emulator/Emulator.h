// The emulator's one door: everything the platform stand-ins may call. The registry stand-in
// reaches the kernel and the card's utility driver, the authorization stand-in asks the host's
// answer, and NSLog writes the host's system log. The emulator's folders behind this door
// (host/, kernel/, card/, tools/) are its own business; scripts/check-layers.sh keeps the
// stand-ins from including them.
#pragma once

#include "emulator/card/UtilityDriver.h"
#include "emulator/host/AuthPolicy.h"
#include "emulator/host/HostRoot.h"
#include "emulator/host/SystemLog.h"
#include "emulator/kernel/KernelCalls.h"
