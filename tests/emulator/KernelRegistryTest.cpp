// The registry's device scans: a device belongs to the card when it hangs from the card's SCSI
// driver, whatever its target ID, and a registry opened to read refuses every change.
#include <gtest/gtest.h>

#include <vector>

#include "driverif/DriverNames.h"
#include "emulator/host/HostError.h"
#include "emulator/kernel/KernelRegistry.h"
#include "emulator/tools/DefaultHost.h"

namespace {

TEST(KernelRegistryTest, DevicesAreToldApartByTheDriverTheyHangFrom) {
    // The default host has one device, target 2, on another controller.
    emu::HostState state = emu::DefaultHostState();
    emu::KernelRegistry registry(state);
    registry.attachDevice(7);
    registry.attachDevice(2);  // the other controller's device has this target too
    EXPECT_EQ(registry.cardTargets(), (std::vector<int>{2, 7}));
    EXPECT_EQ(registry.otherTargets(), (std::vector<int>{2}));

    const emu::RegistryEntry* onCard = registry.deviceUnder({kSC820DriverClass});
    ASSERT_NE(onCard, nullptr);
    EXPECT_EQ(onCard->target, 7);  // the first one attached to the card
    const emu::RegistryEntry* elsewhere = registry.deviceUnder({"GenericSCSIController"});
    ASSERT_NE(elsewhere, nullptr);
    EXPECT_EQ(elsewhere->target, 2);
    EXPECT_EQ(registry.deviceUnder({"NoSuchDriver"}), nullptr);

    registry.detachDevice(2);  // the card's target 2, not the other controller's
    EXPECT_EQ(registry.cardTargets(), (std::vector<int>{7}));
    EXPECT_EQ(registry.otherTargets(), (std::vector<int>{2}));
    EXPECT_THROW(registry.detachDevice(2), emu::HostError);
}

TEST(KernelRegistryTest, ARegistryOpenedToReadRefusesEveryChange) {
    const emu::HostState state = emu::DefaultHostState();
    const size_t entries = state.entries.size();
    emu::KernelRegistry registry(state);
    EXPECT_THROW(registry.attachDevice(9), emu::HostError);
    EXPECT_THROW(registry.detachDevice(2), emu::HostError);
    EXPECT_THROW(registry.setDuplicateServices(true), emu::HostError);
    EXPECT_THROW(registry.removeOwnedBy(kSC820DriverBundleID), emu::HostError);
    EXPECT_EQ(state.entries.size(), entries);
    EXPECT_EQ(registry.otherTargets(), (std::vector<int>{2}));  // reading still works
}

}  // namespace
