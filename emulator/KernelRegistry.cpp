#include "emulator/KernelRegistry.h"

#include <algorithm>
#include <set>

#include "driverif/DriverNames.h"
#include "emulator/HostError.h"

namespace emu {

const RegistryEntry* KernelRegistry::find(uint32_t id) const {
    for (const auto& e : state_.entries) {
        if (e.id == id) return &e;
    }
    return nullptr;
}

const RegistryEntry* KernelRegistry::firstOfClass(std::string_view className) const {
    for (const auto& e : state_.entries) {
        if (e.className == className) return &e;
    }
    return nullptr;
}

std::vector<uint32_t> KernelRegistry::matchClass(std::string_view className) const {
    std::vector<uint32_t> ids;
    for (const auto& e : state_.entries) {
        if (e.className == className) ids.push_back(e.id);
    }
    return ids;
}

std::vector<uint32_t> KernelRegistry::matchName(std::string_view name) const {
    std::vector<uint32_t> ids;
    for (const auto& e : state_.entries) {
        if (e.name == name) ids.push_back(e.id);
    }
    return ids;
}

uint32_t KernelRegistry::add(RegistryEntry entry) {
    entry.id = state_.nextEntryId++;
    state_.entries.push_back(std::move(entry));
    return state_.entries.back().id;
}

void KernelRegistry::addTwin(const RegistryEntry& original) {
    RegistryEntry twin = original;
    twin.duplicate = true;
    add(std::move(twin));
}

bool KernelRegistry::cardHeld() const {
    return std::any_of(state_.entries.begin(), state_.entries.end(),
                       [this](const RegistryEntry& e) {
                           return e.parent == state_.cardEntry && !e.owner.empty();
                       });
}

bool KernelRegistry::servesCard(const LoadedExtension& extension) const {
    return std::any_of(state_.entries.begin(), state_.entries.end(), [&](const RegistryEntry& e) {
        return e.parent == state_.cardEntry && e.owner == extension.identifier;
    });
}

bool KernelRegistry::registerClasses(const LoadedExtension& extension) {
    // The card holds one driver at a time: while another driver serves it, a newly loaded
    // extension stays loaded but attaches nothing.
    if (cardHeld()) return false;
    for (const auto& className : extension.classes) {
        RegistryEntry entry;
        entry.name = extension.identifier;  // named after its extension, found by its class
        entry.className = className;
        entry.userClient = std::find(extension.userClients.begin(), extension.userClients.end(),
                                     className) != extension.userClients.end();
        entry.parent = state_.cardEntry;
        entry.owner = extension.identifier;
        uint32_t id = add(entry);
        if (className == kUtilityDriverClass && state_.faultOn(kFaultDuplicateService)) {
            addTwin(*find(id));
        }
    }
    return true;
}

void KernelRegistry::removeOwnedBy(const std::string& identifier) {
    std::set<uint32_t> removed;
    for (const auto& e : state_.entries) {
        if (e.owner == identifier) removed.insert(e.id);
    }
    // Entries hanging from a removed entry go with it; parents precede their children.
    for (const auto& e : state_.entries) {
        if (removed.count(e.parent) != 0) removed.insert(e.id);
    }
    std::erase_if(state_.entries, [&](const RegistryEntry& e) { return removed.count(e.id) != 0; });
}

void KernelRegistry::setDuplicateServices(bool on) {
    if (!on) {
        std::erase_if(state_.entries, [](const RegistryEntry& e) { return e.duplicate; });
        return;
    }
    std::vector<RegistryEntry> originals;
    for (const auto& e : state_.entries) {
        if (e.className == kUtilityDriverClass && !e.duplicate) originals.push_back(e);
    }
    bool twinned = std::any_of(state_.entries.begin(), state_.entries.end(),
                               [](const RegistryEntry& e) { return e.duplicate; });
    if (twinned) return;
    for (const auto& original : originals) addTwin(original);
}

void KernelRegistry::attachDevice(int target) {
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

void KernelRegistry::detachDevice(int target) {
    for (auto it = state_.entries.begin(); it != state_.entries.end(); ++it) {
        const RegistryEntry* parent = find(it->parent);
        if (it->name == kSCSIDeviceName && it->target == target && parent != nullptr &&
            parent->className == kSC820DriverClass) {
            state_.entries.erase(it);
            return;
        }
    }
    throw HostError("no device with target " + std::to_string(target) + " is attached to the card");
}

std::vector<int> KernelRegistry::cardTargets() const {
    std::vector<int> targets;
    for (const auto& e : state_.entries) {
        const RegistryEntry* parent = find(e.parent);
        if (e.name == kSCSIDeviceName && parent != nullptr &&
            parent->className == kSC820DriverClass) {
            targets.push_back(e.target);
        }
    }
    std::sort(targets.begin(), targets.end());
    return targets;
}

std::vector<int> KernelRegistry::otherTargets() const {
    std::vector<int> targets;
    for (const auto& e : state_.entries) {
        const RegistryEntry* parent = find(e.parent);
        if (e.name == kSCSIDeviceName &&
            (parent == nullptr || parent->className != kSC820DriverClass)) {
            targets.push_back(e.target);
        }
    }
    std::sort(targets.begin(), targets.end());
    return targets;
}

const RegistryEntry* KernelRegistry::deviceUnder(const std::vector<std::string>& classes) const {
    for (const auto& e : state_.entries) {
        if (e.name != kSCSIDeviceName) continue;
        const RegistryEntry* parent = find(e.parent);
        if (parent != nullptr &&
            std::find(classes.begin(), classes.end(), parent->className) != classes.end()) {
            return &e;
        }
    }
    return nullptr;
}

}  // namespace emu
