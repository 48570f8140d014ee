// The kernel state of an emulated host: loaded extensions, registry entries, the authorization
// policy and the fault switches. Kept as one JSON file; the card's records and flash and the
// utility driver's working state have files of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/host/AuthPolicy.h"

namespace emu {

// Fault switches (`sc820-host fault NAME on|off`).
inline constexpr const char kFaultMasterPort[] = "master-port";
inline constexpr const char kFaultMatching[] = "matching";
inline constexpr const char kFaultSearch[] = "search";
inline constexpr const char kFaultOpen[] = "open";
inline constexpr const char kFaultDuplicateService[] = "duplicate-service";
// "refuse-0" ... "refuse-5": the utility driver refuses that command.
std::string RefuseFault(int selector);
// Every fault name, in the order `status` lists them.
const std::vector<std::string>& KnownFaults();

struct LoadedExtension {
    int index = 0;  // the status tools' index; never reused
    std::string identifier;
    std::string version;
    std::vector<std::string> classes;      // registry classes it provides
    std::vector<std::string> userClients;  // those of its classes whose services take connections
    std::vector<int> linked;               // indices of the extensions it links against
    uint64_t address = 0;
    uint32_t size = 0;
    uint32_t wired = 0;
};

struct RegistryEntry {
    uint32_t id = 0;
    std::string name;
    std::string className;
    uint32_t parent = 0;  // 0 only for the registry root
    std::string owner;  // identifier of the extension that registered it; empty for the platform's
    int target = -1;    // SCSI target ID of a device entry, else -1
    bool duplicate = false;   // the second registration made by the duplicate-service fault
    bool userClient = false;  // the service takes user-client connections
};

const char* AuthPolicyName(AuthPolicy policy);
std::optional<AuthPolicy> ParseAuthPolicy(std::string_view name);

struct HostState {
    std::vector<LoadedExtension> extensions;
    std::vector<RegistryEntry> entries;  // in registration order, which is the iteration order
    uint32_t nextEntryId = 1;
    int nextExtensionIndex = 1;
    uint64_t nextLoadAddress = 0;
    uint32_t cardEntry = 0;  // the card's PCI entry
    AuthPolicy auth = AuthPolicy::allow;
    std::set<std::string> faults;

    bool faultOn(std::string_view name) const { return faults.count(std::string(name)) != 0; }
};

// The largest values the state file holds. Counters stop short of them: an operation that
// would pass one is refused, so that every saved state reads back.
inline constexpr int kMaxExtensionIndex = 1 << 30;
inline constexpr uint64_t kMaxLoadAddress = uint64_t{1} << 52;

// Every state file starts with a stamp that no other save repeats (128 random bits), so
// that a reader can tell two versions apart by their first bytes, whatever the file system's
// clock and inode numbers say.
inline constexpr size_t kStateStampLength = 32;  // hexadecimal digits
std::string NewStateStamp();
// The state as the file's text, led by `stamp`.
std::string SerializeState(const HostState& state, const std::string& stamp);
// The stamp at the start of a state file's text; "" when it has none (a file saved before
// stamps, or edited by hand).
std::string StampOfState(std::string_view leadingBytes);
// The leading bytes that hold a state file's stamp.
inline constexpr size_t kStateStampArea = 64;
// Parses and checks a state file's contents; anything unusable throws HostError naming `path`.
HostState ParseState(const std::string& bytes, const std::string& path);

// Checks the state as a whole: what one value cannot show (ids unique and below the counters,
// every parent registered before its children, so no cycles; the card's entry belongs to the
// platform, not to an extension or a device; nothing hangs from a device; counters and
// addresses in range). Returns the first problem, or "" for a usable state. The reader refuses
// a state with a problem, and saving refuses to write one, so that no operation can leave a
// host that no command can read.
std::string CheckState(const HostState& state);

}  // namespace emu
