// The command channel to the card's utility driver. Every command searches the registry for
// the driver, opens a connection, makes one call and closes the connection again: between two
// commands the utility holds neither a connection nor a service reference.
#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "driverif/CommandCodes.h"
#include "driverif/DriverNames.h"

int SC820Controller::failChannel(const char* messageKey) {
    if (holdChannelFailures_) {
        if (heldChannelFailure_ == nullptr) heldChannelFailure_ = messageKey;
        return 0;
    }
    ShowAlert(messageKey, AlertButtons::ok);
    NSApp->terminate(this, kExitFailure);
    return 0;
}

void SC820Controller::settleChannel() {
    holdChannelFailures_ = false;
    const char* held = heldChannelFailure_;
    heldChannelFailure_ = nullptr;
    if (held != nullptr) failChannel(held);
}

int SC820Controller::getPort() {
    mach_port_t masterPort = 0;
    io_iterator_t iterator = 0;
    mDeviceRef = 0;
    auto fail = [&](const char* messageKey) {
        if (iterator != 0) IOObjectRelease(iterator);
        if (masterPort != 0) mach_port_deallocate(mach_task_self(), masterPort);
        if (mDeviceRef != 0) IOObjectRelease(mDeviceRef);
        mDeviceRef = 0;
        return failChannel(messageKey);
    };

    if (IOMasterPort(MACH_PORT_NULL, &masterPort) != KERN_SUCCESS) return fail(MSG_SLOTERROR);
    CFMutableDictionaryRef matching = IOServiceMatching(kUtilityDriverClass);
    if (matching == nullptr) return fail(MSG_SLOTERROR);
    // The search takes the dictionary over, whatever its outcome.
    if (IOServiceGetMatchingServices(masterPort, matching, &iterator) != KERN_SUCCESS) {
        return fail(MSG_SLOTERROR);
    }

    // The command goes to the last service yielded; each earlier one is released on the way.
    while (io_service_t service = IOIteratorNext(iterator)) {
        if (mDeviceRef != 0) IOObjectRelease(mDeviceRef);
        mDeviceRef = service;
    }
    if (mDeviceRef == 0) return fail(MSG_INITIALIZE);
    if (IOServiceOpen(mDeviceRef, mach_task_self(), 0, &mDataPort) != KERN_SUCCESS) {
        return fail(MSG_INITIALIZE);
    }

    // mDeviceRef stays held until rereasePort.
    IOObjectRelease(iterator);
    mach_port_deallocate(mach_task_self(), masterPort);
    return 1;
}

int SC820Controller::rereasePort() {
    if (mDataPort != 0) {
        IOServiceClose(mDataPort);
        mDataPort = 0;
    }
    IOObjectRelease(mDeviceRef);
    return 1;
}

int SC820Controller::sendStructureIn(int selector, void* structure, uint32_t size) {
    if (getPort() == 0) return 0;
    kern_return_t status = io_connect_method_scalarI_structureI(
        mDataPort, selector, nullptr, 0, static_cast<char*>(structure), size);
    rereasePort();
    return status == KERN_SUCCESS ? 1 : 0;
}

int SC820Controller::sendStructureOut(int selector, void* structure, uint32_t size) {
    if (getPort() == 0) return 0;
    // The size is in-out; what the driver reports back is not needed.
    mach_msg_type_number_t outputSize = size;
    kern_return_t status = io_connect_method_scalarI_structureO(
        mDataPort, selector, nullptr, 0, static_cast<char*>(structure), &outputSize);
    rereasePort();
    return status == KERN_SUCCESS ? 1 : 0;
}

int SC820Controller::doGetEEPConfig() {
    return sendStructureOut(kGetEEPConfig, &eep_config_buf, sizeof eep_config_buf);
}

int SC820Controller::doSetEEPConfig() {
    return sendStructureIn(kSetEEPConfig, &eep_config_buf, sizeof eep_config_buf);
}

int SC820Controller::doGetEEPDefault() {
    return sendStructureOut(kGetEEPDefault, &eep_config_buf, sizeof eep_config_buf);
}

int SC820Controller::doEraseFlash() {
    // A placeholder that no side interprets.
    uint8_t placeholder[kEraseInputSize] = {0, 0};
    return sendStructureIn(kEraseFlash, placeholder, kEraseInputSize);
}

int SC820Controller::doReadFlash(uint8_t* buffer) {
    return sendStructureOut(kReadFlash, buffer, kFlashChunkSize);
}

int SC820Controller::doWriteFlash(uint8_t* buffer) {
    return sendStructureIn(kWriteFlash, buffer, kFlashChunkSize);
}
