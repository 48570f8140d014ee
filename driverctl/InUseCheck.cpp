// Whether the card's SCSI driver may be unloaded: it may not while any SCSI device entry in the
// registry hangs from it.
#include <cstring>

#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "driverif/DriverNames.h"

namespace {

// True when the name is exactly the card's SCSI driver class: the same length and the same
// characters in order, case-sensitive. A longer name (a suffix) or a shorter one never matches.
bool IsCardDriverClassName(const NSString& className) {
    const size_t expectedLength = std::strlen(kSC820DriverClass);
    if (className.length() != expectedLength) return false;
    for (size_t i = 0; i < expectedLength; ++i) {
        if (className.characterAtIndex(i) != static_cast<char16_t>(kSC820DriverClass[i])) {
            return false;
        }
    }
    return true;
}

// The registry name of the SCSI devices: the search is by name, not by class.
constexpr const char kSCSIDeviceEntryName[] = "IOSCSIParallelDevice";

// Whether the device's parent in the service plane is the card's driver. A device whose parent
// or whose parent's class name cannot be obtained is not counted as on the card: nothing is
// known to hang from the driver, and the unload itself still refuses a driver in use.
bool HangsFromCardDriver(io_object_t device) {
    io_registry_entry_t entry = 0;
    kern_return_t status = IORegistryEntryGetParentEntry(device, kIOServicePlane, &entry);
    if (entry == 0) return false;
    io_name_t className = {};
    if (status == KERN_SUCCESS) status = IOObjectGetClass(entry, className);
    IOObjectRelease(entry);
    if (status != KERN_SUCCESS) return false;
    className[sizeof className - 1] = '\0';  // the name is used as a C string below
    NSString gotName(className);
    return IsCardDriverClassName(gotName);
}

// 0 as soon as one SCSI device hangs from the card's driver, 1 otherwise, and 1 when the
// registry cannot be searched. Releases every object it obtains; the port stays the caller's.
int SearchDevicesOnCard(mach_port_t masterPort) {
    CFMutableDictionaryRef billsMatch = IOServiceNameMatching(kSCSIDeviceEntryName);
    if (billsMatch == nullptr) return 1;
    io_iterator_t iter = 0;
    // The dictionary is consumed by the call whatever its status.
    kern_return_t status = IOServiceGetMatchingServices(masterPort, billsMatch, &iter);
    int result = 1;
    if (status == KERN_SUCCESS) {
        io_object_t device;
        while (result != 0 && (device = IOIteratorNext(iter)) != 0) {
            if (HangsFromCardDriver(device)) result = 0;
            IOObjectRelease(device);
        }
    }
    if (iter != 0) IOObjectRelease(iter);
    return result;
}

}  // namespace

int SC820Controller::canUnloadDriver() {
    mach_port_t masterPort = 0;
    if (IOMasterPort(MACH_PORT_NULL, &masterPort) != KERN_SUCCESS) {
        // Without the registry nothing else at start-up can work either.
        ShowAlert(MSG_SLOTERROR, AlertButtons::ok, LocalizedMessage(MSG_HOSTINIT));
        NSApp->terminate(this, kExitFailure);
    }
    int result = SearchDevicesOnCard(masterPort);
    mach_port_deallocate(mach_task_self(), masterPort);
    return result;
}
