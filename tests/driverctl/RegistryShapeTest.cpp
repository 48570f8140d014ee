// The in-use check over registries that the host tool cannot shape: no devices at all, a card
// device first in the iteration, and devices under parents whose class only resembles the
// card driver's. The host state is edited directly through the emulator's own model.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/SC820Controller.h"
#include "card/DriverNames.h"
#include "emulator/HostSession.h"
#include "emulator/KernelRegistry.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

// Removes every SCSI device entry, then adds one device under a new parent entry of each given
// class, in order. "ZolSC820" hangs the device from the card's real driver entry instead.
void ShapeRegistry(const std::string& root, const std::vector<std::string>& parentClasses) {
    emu::HostSession session(root);
    emu::HostState& state = session.state();
    std::erase_if(state.entries,
                  [](const emu::RegistryEntry& e) { return e.className == emu::kSCSIDeviceClass; });
    emu::KernelRegistry registry(state);
    int target = 0;
    for (const auto& parentClass : parentClasses) {
        uint32_t parent = 0;
        if (parentClass == kSC820DriverClass) {
            parent = registry.firstOfClass(kSC820DriverClass)->id;
        } else {
            emu::RegistryEntry controller;
            controller.name = parentClass;
            controller.className = parentClass;
            controller.parent = state.cardEntry;
            parent = registry.add(controller);
        }
        emu::RegistryEntry device;
        device.name = device.className = emu::kSCSIDeviceClass;
        device.parent = parent;
        device.target = target++;
        registry.add(device);
    }
    session.save();
}

TEST(RegistryShape, InUseOnlyWhenADeviceHangsFromTheCardDriverWhereverItStands) {
    struct Case {
        const char* name;
        std::vector<std::string> parents;
        int canUnload;
    };
    const Case cases[] = {
        {"no devices at all", {}, 1},
        {"card device first", {"ZolSC820", "GenericSCSIController", "GenericSCSIController"}, 0},
        {"card device alone", {"ZolSC820"}, 0},
        {"lower case", {"zolsc820"}, 1},
        {"upper case", {"ZOLSC820"}, 1},
        {"with suffix", {"ZolSC8200", "ZolSC820Utility"}, 1},
        {"shorter", {"ZolSC82", "Zol"}, 1},
        {"look-alikes before the card", {"zolSC820", "ZolSC820 ", "ZolSC820"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempHost host;
        ShapeRegistry(host.root(), c.parents);
        RecordingBackend backend;
        SC820Controller controller;
        EXPECT_EQ(controller.canUnloadDriver(), c.canUnload);
        EXPECT_TRUE(backend.alerts.empty());
        EXPECT_EQ(IORegistryHandlesHeld(), 0u);
    }
}

}  // namespace
