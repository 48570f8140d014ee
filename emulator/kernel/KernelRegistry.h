// The kernel's service registry: a tree of entries (id, name, class, parent). Device entries of
// the card hang from the card's SCSI driver entry; drivers hang from the card's PCI entry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "emulator/host/HostState.h"

namespace emu {

// Every SCSI device entry carries this registry name; devices are found by it. Their class is
// another one, so that a search by class instead of by name finds nothing.
inline constexpr const char kSCSIDeviceName[] = "IOSCSIParallelDevice";
inline constexpr const char kSCSIDeviceClass[] = "HostSCSIParallelDisk";
inline constexpr int kSCSITargetIDs = 16;

class KernelRegistry {
public:
    // A registry that may change the state.
    explicit KernelRegistry(HostState& state) : view_(state), state_(&state) {}
    // A registry that only reads it: the changing operations below throw HostError.
    explicit KernelRegistry(const HostState& state) : view_(state), state_(nullptr) {}

    const RegistryEntry* find(uint32_t id) const;
    const RegistryEntry* firstOfClass(std::string_view className) const;
    // Matching services, in iteration order.
    std::vector<uint32_t> matchClass(std::string_view className) const;
    std::vector<uint32_t> matchName(std::string_view name) const;

    // Registers an entry and returns its id.
    uint32_t add(RegistryEntry entry);
    // Registers one entry per class an extension provides, under the card's entry. While the
    // duplicate-service fault is on, the utility class is registered twice. The card holds one
    // driver at a time: while another driver's entry hangs from it, nothing is registered and
    // the result is false.
    bool registerClasses(const LoadedExtension& extension);
    // Whether a driver's entry hangs from the card, and whether it is this extension's.
    bool cardHeld() const;
    bool servesCard(const LoadedExtension& extension) const;
    // Removes every entry the extension registered (and whatever hangs from them).
    void removeOwnedBy(const std::string& identifier);
    // Adds or removes the second registration of each utility service.
    void setDuplicateServices(bool on);

    // Device entries on the card: attach under the card's SCSI driver entry. Throw HostError.
    void attachDevice(int target);
    void detachDevice(int target);
    // Target IDs of the devices attached to the card, ascending.
    std::vector<int> cardTargets() const;
    // Target IDs of devices on every other controller, ascending.
    std::vector<int> otherTargets() const;
    // The first device entry hanging from an entry of one of these classes, or null.
    const RegistryEntry* deviceUnder(const std::vector<std::string>& classes) const;

private:
    void addTwin(const RegistryEntry& original);
    HostState& changing() const;
    // Whether the entry hangs from one of the entries `parents` (ids).
    static bool hangsFrom(const RegistryEntry& e, const std::vector<uint32_t>& parents);
    const HostState& view_;
    HostState* state_;
};

}  // namespace emu
