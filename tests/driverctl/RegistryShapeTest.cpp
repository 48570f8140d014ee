// The driver in-use check against the emulated host's registry, shaped by host commands or
// edited directly through the emulator's own model.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "driverif/DriverNames.h"
#include "emulator/host/HostSession.h"
#include "emulator/kernel/KernelRegistry.h"
#include "tests/support/EnglishTexts.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

// One SCSI device entry and the entry it hangs from. Names differ from classes, so that a search
// by class instead of by name, or a parent compared by name instead of by class, gives another
// answer. An empty parent name hangs the device from the card's real driver entry.
struct Device {
    std::string parentName;
    std::string parentClass;
    std::string name = emu::kSCSIDeviceName;
    std::string className = "HostSCSIDisk";
};

// Removes every SCSI device entry, then adds the devices in order.
void ShapeRegistry(const std::string& root, const std::vector<Device>& devices) {
    emu::HostSession session(root);
    emu::HostState& state = session.state();
    std::erase_if(state.entries,
                  [](const emu::RegistryEntry& e) { return e.name == emu::kSCSIDeviceName; });
    emu::KernelRegistry registry(state);
    int target = 0;
    for (const auto& wanted : devices) {
        emu::RegistryEntry device;
        device.name = wanted.name;
        device.className = wanted.className;
        device.parent = registry.firstOfClass(kSC820DriverClass)->id;
        if (!wanted.parentName.empty()) {
            emu::RegistryEntry controller;
            controller.name = wanted.parentName;
            controller.className = wanted.parentClass;
            controller.parent = state.cardEntry;
            device.parent = registry.add(controller);
        }
        device.target = target++;
        registry.add(device);
    }
    session.save();
}

// A device on another controller whose class is the given one.
Device Under(const std::string& parentClass) {
    return Device{"controller@" + parentClass, parentClass};
}

TEST(RegistryShape, InUseOnlyWhenADeviceHangsFromTheCardDriverWhereverItStands) {
    struct Case {
        const char* name;
        std::vector<Device> devices;
        std::vector<std::vector<std::string>> commands;
        int canUnload;
        bool shape = true;
    };
    const Device onCard{"", ""};
    const Case cases[] = {
        {"only the default device on another controller", {}, {}, 1, false},
        {"no devices at all", {}, {}, 1},
        {"card device first", {onCard, Under("GenericSCSIController"), Under("Generic")}, {}, 0},
        {"card device last", {Under("GenericSCSIController"), Under("Other"), onCard}, {}, 0},
        {"case differs", {Under("zolsc820"), Under("ZOLSC820"), Under("ZolSc820")}, {}, 1},
        {"longer or shorter class",
         {Under("ZolSC820X"), Under("ZolSC82"), Under("XZolSC820")},
         {},
         1},
        {"look-alikes before the card", {Under("zolSC820"), Under("ZolSC820 "), onCard}, {}, 0},
        {"the parent is named like the driver",
         {Device{"ZolSC820", "GenericSCSIController"}},
         {},
         1},
        {"a parent of the driver's class under another name",
         {Device{"scsi@9", "ZolSC820"}},
         {},
         0},
        {"a device of the searched class under another name",
         {Device{"", "", "disk@3", emu::kSCSIDeviceName}},
         {},
         1},
        {"card device attached", {}, {{"attach", "0"}}, 0, false},
        {"device detached again", {}, {{"attach", "6"}, {"detach", "6"}}, 1, false},
        {"normal driver unloaded", {}, {{"/sbin/kextunload", kSC820DriverBundleID}}, 1, false},
        // A failed name match or search leaves the answer at "may unload".
        {"matching fails", {}, {{"attach", "1"}, {"fault", "matching", "on"}}, 1, false},
        {"search fails", {}, {{"attach", "1"}, {"fault", "search", "on"}}, 1, false},
        // No registry at all: the slot error, OK only, and the program ends (-1).
        {"master port fails", {}, {{"attach", "2"}, {"fault", "master-port", "on"}}, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempHost host;
        if (c.shape) ShapeRegistry(host.root(), c.devices);
        for (const auto& step : c.commands) {
            if (step[0] == "/sbin/kextunload") {
                ASSERT_EQ(RunProgram({host.root() + step[0], "-m", step[1]}, nullptr), 0);
            } else {
                host.hostOk(step);
            }
        }
        RecordingBackend backend;
        UseMainBundleAt(SC820_BUNDLE_DIR);  // the alert's texts
        SC820Controller controller;
        if (c.canUnload >= 0) {
            EXPECT_EQ(controller.canUnloadDriver(), c.canUnload);
        } else {
            EXPECT_THROW(controller.canUnloadDriver(), Terminated);
        }
        ASSERT_EQ(backend.alerts.size(), c.canUnload < 0 ? 1u : 0u);
        EXPECT_EQ(backend.terminateCount, c.canUnload < 0 ? 1 : 0);
        if (c.canUnload < 0) {
            EXPECT_EQ(backend.alerts[0].message, kEnglishText.at(MSG_SLOTERROR));
            EXPECT_EQ(backend.alerts[0].defaultButton, "OK");
            EXPECT_EQ(backend.alerts[0].alternateButton, "");
        }
        EXPECT_EQ(IORegistryHandlesHeld(), 0u);
    }
}

}  // namespace
