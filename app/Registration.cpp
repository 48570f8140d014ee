// Makes the controller class known to the window layer, as the main window description names
// it: the outlets that can be connected by object name and the actions that buttons send.
#include <cstring>
#include <string>

#include "app/SC820Controller.h"

namespace {

template <typename T>
std::pair<std::string, std::function<void(NSObject*, NSObject*)>> Outlet(
    const char* name, T* SC820Controller::*field) {
    return {name, [field](NSObject* owner, NSObject* object) {
                static_cast<SC820Controller*>(owner)->*field = dynamic_cast<T*>(object);
            }};
}

std::pair<std::string, std::function<void(NSObject*, NSObject*)>> Action(
    const char* name, void (SC820Controller::*method)(id)) {
    return {name, [method](NSObject* owner, NSObject* sender) {
                (static_cast<SC820Controller*>(owner)->*method)(sender);
            }};
}

#define SC820_OUTLET(field) Outlet(#field, &SC820Controller::field)

NibClassDescription Describe() {
    NibClassDescription d;
    d.className = "SC820Controller";
    d.allocInit = [] { return (new SC820Controller)->init(); };
    d.outlets = {
        SC820_OUTLET(out_window),
        SC820_OUTLET(out_hostSCSIID),
        SC820_OUTLET(out_resetRecoveringTime),
        SC820_OUTLET(out_requestSenseDelay),
        SC820_OUTLET(out_burstTransfer_E),
        SC820_OUTLET(out_burstTransfer_D),
        SC820_OUTLET(out_parity_E),
        SC820_OUTLET(out_parity_D),
        SC820_OUTLET(out_SCSITerminators_0),
        SC820_OUTLET(out_SCSITerminators_1),
        SC820_OUTLET(out_SCSITerminators_2),
        SC820_OUTLET(out_SCSITerminators_3),
        SC820_OUTLET(out_verSCSIConfigration),
        SC820_OUTLET(out_verConfigurateionDriver),
        SC820_OUTLET(out_verSCSIBIOS),
        SC820_OUTLET(out_verPCB),
        SC820_OUTLET(out_erase),
        SC820_OUTLET(out_write),
        SC820_OUTLET(dlgPassword),
        SC820_OUTLET(txtPassword),
    };
    d.actions = {
        Action("act_default:", &SC820Controller::act_default),
        Action("act_erase:", &SC820Controller::act_erase),
        Action("act_write:", &SC820Controller::act_write),
        Action("act_ok:", &SC820Controller::act_ok),
        Action("act_cancel:", &SC820Controller::act_cancel),
        Action("dlgOk:", &SC820Controller::dlgOk),
        Action("dlgCancel:", &SC820Controller::dlgCancel),
    };
    d.windowShouldClose = [](NSObject* owner, NSObject* sender) {
        return static_cast<SC820Controller*>(owner)->windowShouldClose(sender);
    };
    d.awakeFromNib = [](NSObject* owner) { static_cast<SC820Controller*>(owner)->awakeFromNib(); };
    d.configurationRecord = [](NSObject* owner) {
        const auto* record = &static_cast<SC820Controller*>(owner)->eep_config_buf;
        const auto* bytes = reinterpret_cast<const uint8_t*>(record);
        return std::vector<uint8_t>(bytes, bytes + sizeof *record);
    };
    d.showRecord = [](NSObject* owner, const std::vector<uint8_t>& record) {
        auto* controller = static_cast<SC820Controller*>(owner);
        const SCSIUTY_CFG held = controller->eep_config_buf;
        if (record.size() != sizeof held) return;
        std::memcpy(&controller->eep_config_buf, record.data(), sizeof held);
        controller->setConfigWindow();
        controller->eep_config_buf = held;
    };
    d.readFlash = [](NSObject* owner, std::vector<uint8_t>* flash) {
        return static_cast<SC820Controller*>(owner)->readWholeFlash(flash);
    };
    return d;
}

#undef SC820_OUTLET

// Registered when the program loads, before main runs, as the class would be by the runtime.
const bool registered = [] {
    NSRegisterNibClass(Describe());
    return true;
}();

}  // namespace
