// The driver in-use check against the emulated host's registry, shaped by host commands or
// edited directly through the emulator's own model.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "card/DriverNames.h"
#include "driverctl/InUseCheck.h"
#include "emulator/HostSession.h"
#include "emulator/KernelRegistry.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

TEST(ClassName, OnlyTheExactEightCharactersMatch) {
    EXPECT_TRUE(IsCardDriverClassName(NSString("ZolSC820")));
    for (const char* other : {"zolsc820", "ZOLSC820", "ZolSc820", "ZolSC821", "ZolSC820X",
                              "ZolSC820 ", "XZolSC820", "ZolSC82", "", "Zol\303\251C820"}) {
        EXPECT_FALSE(IsCardDriverClassName(NSString(other))) << other;
    }
}

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
        emu::RegistryEntry device;
        device.name = device.className = emu::kSCSIDeviceClass;
        device.parent = registry.firstOfClass(kSC820DriverClass)->id;
        if (parentClass != kSC820DriverClass) {
            emu::RegistryEntry controller;
            controller.name = controller.className = parentClass;
            controller.parent = state.cardEntry;
            device.parent = registry.add(controller);
        }
        device.target = target++;
        registry.add(device);
    }
    session.save();
}

TEST(RegistryShape, InUseOnlyWhenADeviceHangsFromTheCardDriverWhereverItStands) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> steps;  // {"shape", parent classes...} or commands
        int canUnload;
    };
    const Case cases[] = {
        {"only a device on another controller", {}, 1},
        {"no devices at all", {{"shape"}}, 1},
        {"card device first", {{"shape", "ZolSC820", "GenericSCSIController", "Generic"}}, 0},
        {"case differs", {{"shape", "zolsc820", "ZOLSC820"}}, 1},
        {"look-alikes before the card", {{"shape", "zolSC820", "ZolSC820 ", "ZolSC820"}}, 0},
        {"card device attached", {{"attach", "0"}}, 0},
        {"device detached again", {{"attach", "6"}, {"detach", "6"}}, 1},
        {"normal driver unloaded", {{"/sbin/kextunload", kSC820DriverBundleID}}, 1},
        // A failed name match or search leaves the answer at "may unload".
        {"matching fails", {{"attach", "1"}, {"fault", "matching", "on"}}, 1},
        {"search fails", {{"attach", "1"}, {"fault", "search", "on"}}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempHost host;
        for (const auto& step : c.steps) {
            if (step[0] == "shape") {
                ShapeRegistry(host.root(), {step.begin() + 1, step.end()});
            } else if (step[0] == "/sbin/kextunload") {
                ASSERT_EQ(RunProgram({host.root() + step[0], "-m", step[1]}, nullptr), 0);
            } else {
                host.hostOk(step);
            }
        }
        RecordingBackend backend;
        SC820Controller controller;
        EXPECT_EQ(controller.canUnloadDriver(), c.canUnload);
        EXPECT_TRUE(backend.alerts.empty());
        EXPECT_EQ(IORegistryHandlesHeld(), 0u);
    }
}

TEST(InUseCheckWithoutRegistry, MasterPortFaultShowsTheSlotErrorAndQuits) {
    TempHost host;
    RecordingBackend backend;
    host.hostOk({"attach", "2"});
    host.hostOk({"fault", "master-port", "on"});
    SC820Controller controller;
    EXPECT_THROW(controller.canUnloadDriver(), Terminated);
    ASSERT_EQ(backend.alerts.size(), 1u);
    EXPECT_EQ(backend.alerts[0].message, LocalizedMessage(MSG_SLOTERROR).UTF8String());
    EXPECT_EQ(backend.alerts[0].defaultButton, "OK");
    EXPECT_EQ(backend.alerts[0].alternateButton, "");
    EXPECT_EQ(backend.terminateCount, 1);
    EXPECT_EQ(IORegistryHandlesHeld(), 0u);
}

}  // namespace
