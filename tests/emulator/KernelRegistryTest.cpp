// The registry's device scans: a device belongs to the card when it hangs from the card's SCSI
// driver, whatever its target ID, and a registry opened to read refuses every change.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "driverif/DriverNames.h"
#include "emulator/host/HostError.h"
#include "emulator/kernel/KernelRegistry.h"
#include "emulator/tools/DefaultHost.h"

namespace {

TEST(KernelRegistryTest, DevicesAreToldApartByTheDriverTheyHangFrom) {
    // The default host has one device, target 2, on another controller; a target 0 follows it.
    emu::HostState state = emu::DefaultHostState();
    auto other = *std::find_if(state.entries.begin(), state.entries.end(),
                               [](const emu::RegistryEntry& e) { return e.target == 2; });
    other.id = state.nextEntryId++, other.target = 0;
    state.entries.push_back(other);
    emu::KernelRegistry registry(state);
    registry.attachDevice(7);
    registry.attachDevice(2);  // the other controller's device has this target too
    EXPECT_EQ(registry.cardTargets(), (std::vector<int>{2, 7}));
    EXPECT_EQ(registry.otherTargets(), (std::vector<int>{0, 2}));
    EXPECT_EQ(registry.deviceUnder({kSC820DriverClass})->target, 7);  // the first attached
    EXPECT_EQ(registry.deviceUnder({"GenericSCSIController"})->target, 2);
    EXPECT_EQ(registry.deviceUnder({"NoSuchDriver"}), nullptr);
    registry.detachDevice(2);  // the card's target 2, not the other controller's
    EXPECT_EQ(registry.cardTargets(), (std::vector<int>{7}));
    EXPECT_EQ(registry.otherTargets(), (std::vector<int>{0, 2}));
    EXPECT_THROW(registry.detachDevice(2), emu::HostError);
    const emu::HostState& view = state;
    const size_t entries = view.entries.size();
    emu::KernelRegistry reader(view);
    EXPECT_THROW(reader.attachDevice(9), emu::HostError);
    EXPECT_THROW(reader.detachDevice(7), emu::HostError);
    EXPECT_THROW(reader.setDuplicateServices(true), emu::HostError);
    EXPECT_THROW(reader.removeOwnedBy(kSC820DriverBundleID), emu::HostError);
    EXPECT_EQ(view.entries.size(), entries);
    EXPECT_EQ(reader.otherTargets(), (std::vector<int>{0, 2}));  // reading still works
}

}  // namespace
