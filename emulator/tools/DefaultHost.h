// The default host that `sc820-host init` lays out: the card's normal SCSI driver loaded and
// serving the card, no device on the card, one device on another controller, authorization
// allowed, a plausible EEPROM configuration, factory settings and a sample BIOS in the flash.
#pragma once

#include <string>

#include "emulator/host/HostState.h"

namespace emu {

// Kernel extensions and registry entries of the default host.
HostState DefaultHostState();
// The default EEPROM and factory records (308 bytes each) and flash image (64 KiB).
std::string DefaultEepromRecord();
std::string DefaultFactoryRecord();
std::string DefaultFlashImage();

// Lays out a default host at `root`, with its own copy of `hostBinary` (the sc820-host
// program) that its driver tools link to. Refuses an
// existing host, or a directory with other contents, unless `force`; a forced init keeps the
// system log. Throws HostError.
void InitHost(const std::string& root, bool force, const std::string& hostBinary);

// Rebuilds the kernel state, the utility driver's state and the driver tools of an existing
// host from the defaults, keeping the card's records, its flash and the system log: the way
// out of a corrupt state file. Throws HostError when the root holds no host.
void RepairHost(const std::string& root, const std::string& hostBinary);

}  // namespace emu
