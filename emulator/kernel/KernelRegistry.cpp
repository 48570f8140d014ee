#include "emulator/kernel/KernelRegistry.h"

#include <algorithm>
#include <set>

#include "driverif/DriverNames.h"
#include "emulator/host/HostError.h"

namespace emu {

const RegistryEntry* KernelRegistry::find(uint32_t id) const {
    for (const auto& e : view_.entries) {
        if (e.id == id) return &e;
    }
    return nullptr;
}

const RegistryEntry* KernelRegistry::firstOfClass(std::string_view className) const {
    for (const auto& e : view_.entries) {
        if (e.className == className) return &e;
    }
    return nullptr;
}

std::vector<uint32_t> KernelRegistry::matchClass(std::string_view className) const {
    std::vector<uint32_t> ids;
    for (const auto& e : view_.entries) {
        if (e.className == className) ids.push_back(e.id);
    }
    return ids;
}

std::vector<uint32_t> KernelRegistry::matchName(std::string_view name) const {
    std::vector<uint32_t> ids;
    for (const auto& e : view_.entries) {
        if (e.name == name) ids.push_back(e.id);
    }
    return ids;
}

HostState& KernelRegistry::changing() const {
    if (state_ == nullptr) throw HostError("the registry was opened to read only");
    return *state_;
}

uint32_t KernelRegistry::add(RegistryEntry entry) {
    HostState& state = changing();
    entry.id = state.nextEntryId++;
    state.entries.push_back(std::move(entry));
    return state.entries.back().id;
}

void KernelRegistry::addTwin(const RegistryEntry& original) {
    RegistryEntry twin = original;
    twin.duplicate = true;
    add(std::move(twin));
}

bool KernelRegistry::cardHeld() const {
    return std::any_of(view_.entries.begin(), view_.entries.end(), [this](const RegistryEntry& e) {
        return e.parent == view_.cardEntry && !e.owner.empty();
    });
}

bool KernelRegistry::servesCard(const LoadedExtension& extension) const {
    return std::any_of(view_.entries.begin(), view_.entries.end(), [&](const RegistryEntry& e) {
        return e.parent == view_.cardEntry && e.owner == extension.identifier;
    });
}

bool KernelRegistry::registerClasses(const LoadedExtension& extension) {
    HostState& state = changing();
    // The card holds one driver at a time: while another driver serves it, a newly loaded
    // extension stays loaded but attaches nothing.
    if (cardHeld()) return false;
    for (const auto& className : extension.classes) {
        RegistryEntry entry;
        entry.name = extension.identifier;  // named after its extension, found by its class
        entry.className = className;
        entry.userClient = std::find(extension.userClients.begin(), extension.userClients.end(),
                                     className) != extension.userClients.end();
        entry.parent = state.cardEntry;
        entry.owner = extension.identifier;
        uint32_t id = add(entry);
        if (className == kUtilityDriverClass && state.faultOn(kFaultDuplicateService)) {
            addTwin(*find(id));
        }
    }
    return true;
}

void KernelRegistry::removeOwnedBy(const std::string& identifier) {
    HostState& state = changing();
    std::set<uint32_t> removed;
    for (const auto& e : state.entries) {
        if (e.owner == identifier) removed.insert(e.id);
    }
    // Entries hanging from a removed entry go with it; parents precede their children.
    for (const auto& e : state.entries) {
        if (removed.count(e.parent) != 0) removed.insert(e.id);
    }
    std::erase_if(state.entries, [&](const RegistryEntry& e) { return removed.count(e.id) != 0; });
}

void KernelRegistry::setDuplicateServices(bool on) {
    HostState& state = changing();
    if (!on) {
        std::erase_if(state.entries, [](const RegistryEntry& e) { return e.duplicate; });
        return;
    }
    std::vector<RegistryEntry> originals;
    for (const auto& e : state.entries) {
        if (e.className == kUtilityDriverClass && !e.duplicate) originals.push_back(e);
    }
    bool twinned = std::any_of(state.entries.begin(), state.entries.end(),
                               [](const RegistryEntry& e) { return e.duplicate; });
    if (twinned) return;
    for (const auto& original : originals) addTwin(original);
}

void KernelRegistry::attachDevice(int target) {
    changing();
    const RegistryEntry* driver = firstOfClass(kSC820DriverClass);
    if (driver == nullptr) {
        throw HostError(std::string("cannot attach a device: the card's SCSI driver ") +
                        kSC820DriverBundleID + " is not loaded");
    }
    std::vector<int> attached = cardTargets();
    if (std::find(attached.begin(), attached.end(), target) != attached.end()) {
        throw HostError("target " + std::to_string(target) + " is already attached to the card");
    }
    RegistryEntry device;
    device.name = kSCSIDeviceName;
    device.className = kSCSIDeviceClass;
    device.parent = driver->id;
    device.target = target;
    add(device);
}

// The scans below look a device's parent up among the few driver entries instead of among all
// entries: one pass over the registry, not one per entry.
bool KernelRegistry::hangsFrom(const RegistryEntry& e, const std::vector<uint32_t>& parents) {
    return std::find(parents.begin(), parents.end(), e.parent) != parents.end();
}

void KernelRegistry::detachDevice(int target) {
    HostState& state = changing();
    const std::vector<uint32_t> drivers = matchClass(kSC820DriverClass);
    for (auto it = state.entries.begin(); it != state.entries.end(); ++it) {
        if (it->name == kSCSIDeviceName && it->target == target && hangsFrom(*it, drivers)) {
            state.entries.erase(it);
            return;
        }
    }
    throw HostError("no device with target " + std::to_string(target) + " is attached to the card");
}

std::vector<int> KernelRegistry::cardTargets() const {
    const std::vector<uint32_t> drivers = matchClass(kSC820DriverClass);
    std::vector<int> targets;
    for (const auto& e : view_.entries) {
        if (e.name == kSCSIDeviceName && hangsFrom(e, drivers)) targets.push_back(e.target);
    }
    std::sort(targets.begin(), targets.end());
    return targets;
}

std::vector<int> KernelRegistry::otherTargets() const {
    const std::vector<uint32_t> drivers = matchClass(kSC820DriverClass);
    std::vector<int> targets;
    for (const auto& e : view_.entries) {
        if (e.name == kSCSIDeviceName && !hangsFrom(e, drivers)) targets.push_back(e.target);
    }
    std::sort(targets.begin(), targets.end());
    return targets;
}

const RegistryEntry* KernelRegistry::deviceUnder(const std::vector<std::string>& classes) const {
    std::vector<uint32_t> parents;
    for (const auto& e : view_.entries) {
        if (std::find(classes.begin(), classes.end(), e.className) != classes.end())
            parents.push_back(e.id);
    }
    for (const auto& e : view_.entries) {
        if (e.name == kSCSIDeviceName && hangsFrom(e, parents)) return &e;
    }
    return nullptr;
}

}  // namespace emu
