// Helpers for tests that work on an emulated host: kernel extension bundles, distinctive
// records, and the facts of `sc820-host status`.
#pragma once

#include <string>
#include <vector>

#include "tests/support/TempHost.h"

namespace testhost {

// Identifier, version and class of the utility driver extension used by these tests.
inline constexpr const char kUtilityKextID[] = "com.tavik.iokit.sc820utl";
inline constexpr const char kUtilityKextVersion[] = "2.1.0";

// Writes DIR/NAME with a Contents/Info.plist declaring the identifier, version and one
// personality per class; returns the bundle's path.
std::string WriteKext(const std::string& dir, const std::string& name,
                      const std::string& identifier, const std::string& version,
                      const std::vector<std::string>& classes);

// Runs a driver tool of the host (ROOT/sbin/NAME or ROOT/usr/sbin/NAME) and returns its exit
// status.
int RunTool(const TempHost& host, const std::string& tool, const std::vector<std::string>& args,
            std::string* output = nullptr);

// Swaps drivers as the utility does: unloads the card's SCSI driver and loads a utility driver
// extension (written into `scratch`). Fails the test when a step fails.
void SwapInUtilityDriver(const TempHost& host, const std::string& scratch);

// 308 bytes that differ from each other and from the default records, padding included.
std::string PatternRecord(int seed);

// The rest of the status line that starts with `key` and a space ("" when there is none).
std::string StatusFact(const TempHost& host, const std::string& key);

}  // namespace testhost
