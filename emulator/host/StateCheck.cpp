// The whole-state checks shared by reading and saving the host's state.
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "emulator/host/HostState.h"
#include "emulator/kernel/KernelRegistry.h"

namespace emu {

namespace {

constexpr uint64_t kMaxId = 0xffffffffull;

std::string CheckExtensions(const HostState& s) {
    if (s.nextExtensionIndex < 1 || s.nextExtensionIndex > kMaxExtensionIndex)
        return "\"nextExtensionIndex\" is out of range";
    if (s.nextLoadAddress > kMaxLoadAddress) return "\"nextLoadAddress\" is out of range";
    std::unordered_set<int> indices;
    std::unordered_set<std::string> identifiers;
    for (const auto& e : s.extensions) {
        if (e.identifier.empty()) return "an extension has an empty identifier";
        if (!indices.insert(e.index).second)
            return "extension index " + std::to_string(e.index) + " is used twice";
        if (!identifiers.insert(e.identifier).second) return e.identifier + " is loaded twice";
        if (e.index < 1 || e.index >= s.nextExtensionIndex)
            return "\"nextExtensionIndex\" is not above every index";
        if (e.address > kMaxLoadAddress || e.size > kMaxLoadAddress - e.address)
            return e.identifier + " lies beyond the largest load address";
    }
    return "";
}

// An entry is a SCSI device when its name, its class or its target says so.
bool IsDevice(const RegistryEntry& e) {
    return e.name == kSCSIDeviceName || e.className == kSCSIDeviceClass || e.target >= 0;
}

std::string EntryName(const RegistryEntry& e) {
    return "registry entry " + std::to_string(e.id);
}

std::string CheckEntries(const HostState& s) {
    if (s.nextEntryId < 1 || s.nextEntryId > kMaxId) return "\"nextEntryId\" is out of range";
    // id -> the entry, for entries seen so far: a parent must come before its children, which
    // also rules out cycles.
    std::unordered_map<uint32_t, const RegistryEntry*> seen;
    for (const auto& e : s.entries) {
        if (e.id < 1 || e.id >= s.nextEntryId) return "\"nextEntryId\" is not above every entry id";
        if (seen.count(e.id) != 0) return EntryName(e) + " is used twice";
        if (e.parent != 0) {
            auto parent = seen.find(e.parent);
            if (parent == seen.end())
                return EntryName(e) + " has no parent " + std::to_string(e.parent) +
                       " registered before it";
            if (IsDevice(*parent->second)) return EntryName(e) + " hangs from a SCSI device";
        }
        if (e.target > 15) return EntryName(e) + " has a bad target";
        seen.emplace(e.id, &e);
    }
    auto card = seen.find(s.cardEntry);
    if (card == seen.end()) return "\"cardEntry\" names no registry entry";
    // Unloading an extension removes its entries and everything under them: the card's entry
    // must not be among them, nor be a device that `detach` removes.
    for (const RegistryEntry* e = card->second; e != nullptr;) {
        if (!e->owner.empty() || e->duplicate)
            return "\"cardEntry\" lies under an extension's entry";
        if (IsDevice(*e)) return "\"cardEntry\" names a device";
        auto parent = seen.find(e->parent);
        e = parent == seen.end() ? nullptr : parent->second;
    }
    return "";
}

}  // namespace

std::string CheckState(const HostState& state) {
    std::string problem = CheckExtensions(state);
    return problem.empty() ? CheckEntries(state) : problem;
}

}  // namespace emu
