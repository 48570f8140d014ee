// The driver in-use check against the emulated host's registry, shaped by host commands or
// edited directly through the emulator's own model.
#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <sstream>
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
    const Device onCard{"", ""};
    // The devices that replace the default one (none: the default stays), host commands, and
    // canUnloadDriver's answer (-1: the slot error, OK only, and the program ends).
    const std::tuple<std::optional<std::vector<Device>>, std::vector<std::string>, int> cases[] = {
        {std::nullopt, {}, 1},  // only the default device, on another controller
        {std::vector<Device>{}, {}, 1},
        {std::vector{onCard, Under("GenericSCSIController"), Under("Generic")}, {}, 0},
        {std::vector{Under("GenericSCSIController"), Under("Other"), onCard}, {}, 0},
        {std::vector{Under("zolsc820"), Under("ZOLSC820"), Under("ZolSc820")}, {}, 1},
        {std::vector{Under("ZolSC820X"), Under("ZolSC82"), Under("XZolSC820")}, {}, 1},
        {std::vector{Under("zolSC820"), Under("ZolSC820 "), onCard}, {}, 0},
        {std::vector{Device{"ZolSC820", "GenericSCSIController"}}, {}, 1},  // named like the driver
        {std::vector{Device{"scsi@9", "ZolSC820"}},
         {},
         0},  // of the driver's class, named otherwise
        {std::vector{Device{"", "", "disk@3", emu::kSCSIDeviceName}}, {}, 1},
        {std::nullopt, {"attach 0"}, 0},
        {std::nullopt, {"attach 6", "detach 6"}, 1},
        {std::nullopt, {"/sbin/kextunload -m com.tavik.driver.ZolSC820"}, 1},
        // A failed name match or search leaves the answer at "may unload".
        {std::nullopt, {"attach 1", "fault matching on"}, 1},
        {std::nullopt, {"attach 1", "fault search on"}, 1},
        {std::nullopt, {"attach 2", "fault master-port on"}, -1},
    };
    for (const auto& [devices, commands, canUnload] : cases) {
        TempHost host;
        if (devices) ShapeRegistry(host.root(), *devices);
        for (const std::string& command : commands) {
            std::istringstream in(command);
            std::vector<std::string> words(std::istream_iterator<std::string>(in), {});
            if (words[0][0] == '/') words[0] = host.root() + words[0];
            ASSERT_EQ(words[0][0] == '/' ? RunProgram(words, nullptr) : (host.hostOk(words), 0), 0);
        }
        RecordingBackend backend;
        UseMainBundleAt(SC820_BUNDLE_DIR);  // the alert's texts
        SC820Controller controller;
        int answer = -1;
        if (canUnload >= 0)
            answer = controller.canUnloadDriver();
        else
            EXPECT_THROW(controller.canUnloadDriver(), Terminated);
        std::vector<std::string> shown;
        for (const auto& a : backend.alerts)
            shown.push_back(a.message + "|" + a.defaultButton + "|" + a.alternateButton);
        EXPECT_EQ(shown, canUnload < 0
                             ? std::vector<std::string>{kEnglishText.at(MSG_SLOTERROR) + "|OK|"}
                             : std::vector<std::string>{});
        EXPECT_EQ(answer, canUnload);
        EXPECT_EQ(backend.terminateCount, canUnload < 0 ? 1 : 0);
        EXPECT_EQ(IORegistryHandlesHeld(), 0u);
    }
}

}  // namespace
