// A stand-in controller for testing the window layer end to end: it registers under the class
// name that the main window description names, and each of its actions shows the window
// layer's alerts, panel and controls in a way the tests can read back from the transcript.
//   start-up: sets some fields, then asks "Start?" (OK/Cancel); anything but OK terminates.
//   OK:       shows a message with percent signs, which must pass through unchanged.
//   Default:  asks "Confirm?" (OK/Cancel) and reports the answer it got.
//   Erase:    writes "erased" into the SCSI BIOS field.
//   Write:    runs the open panel in /tmp and reports the result and file.
//   Cancel:   terminates.
//   closing:  asks "Close?"; OK terminates, anything else keeps the window open.
// With --quiet the start-up question is not asked (for looking at the window).
#include <cstring>
#include <string>

#include "platform/window/AppKit.h"

namespace {

bool quiet = false;

class ProbeController : public NSObject {
public:
    NSWindow* out_window = nullptr;
    NSPopUpButton* out_hostSCSIID = nullptr;
    NSPopUpButton* out_resetRecoveringTime = nullptr;
    NSPopUpButton* out_requestSenseDelay = nullptr;
    NSButton* out_parity_E = nullptr;
    NSButton* out_burstTransfer_E = nullptr;
    NSButton* out_SCSITerminators_0 = nullptr;
    NSTextField* out_verSCSIConfigration = nullptr;
    NSTextField* out_verConfigurateionDriver = nullptr;
    NSTextField* out_verPCB = nullptr;
    NSTextField* out_verSCSIBIOS = nullptr;
    int awakenings = 0;

    int alert(const std::string& message, bool confirm) {
        return NSRunAlertPanel(NSString("Probe"), NSString(message), "OK",
                               confirm ? "Cancel" : nullptr, nullptr);
    }

    void awakeFromNib() {
        ++awakenings;
        NSView* container = out_hostSCSIID->superview();
        out_verSCSIConfigration->setStringValue(NSString("1.0.2"));
        out_verConfigurateionDriver->setStringValue(NSString("2.1.0"));
        out_verPCB->setStringValue(NSString("tab\there\nline\rcr\\slash"));
        out_verSCSIBIOS->setStringValue(NSString("com.tavik.driver.ZolSC820 (3.1.4)"));
        out_resetRecoveringTime->selectItemAtIndex(2);
        out_requestSenseDelay->selectItemAtIndex(0);
        out_parity_E->setState(1);
        out_burstTransfer_E->setState(1);
        out_SCSITerminators_0->setState(1);
        for (long i = 0; i < 16; ++i) {
            dynamic_cast<NSPopUpButton*>(container->viewWithTag(100 + i))
                ->selectItemAtIndex(i % 11);
            dynamic_cast<NSButton*>(container->viewWithTag(200 + i))->setState(i % 2);
            dynamic_cast<NSButton*>(container->viewWithTag(300 + i))->setState(i < 8);
            dynamic_cast<NSButton*>(container->viewWithTag(400 + i))->setState(1);
        }
        if (!quiet && alert("Start?", true) != 1) NSApp->terminate(this);
        out_hostSCSIID->selectItemAtIndex(7);
    }
    void ok() { alert("100% done %s %n", false); }
    void makeDefault() {
        int answer = alert("Confirm?", true);
        alert("answer " + std::to_string(answer) + " after " + std::to_string(awakenings), false);
    }
    void erase() { out_verSCSIBIOS->setStringValue(NSString("erased")); }
    void write() {
        NSOpenPanel* panel = NSOpenPanel::openPanel();
        int result = panel->runModalForDirectory(NSString("/tmp"), nullptr, nullptr);
        alert("panel " + std::to_string(result) + " " + panel->filename().UTF8String(), false);
    }
    void cancel() { NSApp->terminate(this); }
    int shouldClose() {
        if (alert("Close?", true) == 1) NSApp->terminate(this);
        return 0;
    }
};

template <typename T>
std::pair<std::string, std::function<void(NSObject*, NSObject*)>> Outlet(
    const char* name, T* ProbeController::*field) {
    return {name, [field](NSObject* owner, NSObject* object) {
                static_cast<ProbeController*>(owner)->*field = dynamic_cast<T*>(object);
            }};
}

std::pair<std::string, std::function<void(NSObject*, NSObject*)>> Action(
    const char* name, void (ProbeController::*method)()) {
    return {name, [method](NSObject* owner, NSObject*) {
                (static_cast<ProbeController*>(owner)->*method)();
            }};
}

#define PROBE_OUTLET(field) Outlet(#field, &ProbeController::field)

void Register() {
    NibClassDescription d;
    d.className = "SC820Controller";
    d.allocInit = [] { return new ProbeController; };
    d.outlets = {PROBE_OUTLET(out_window),
                 PROBE_OUTLET(out_hostSCSIID),
                 PROBE_OUTLET(out_resetRecoveringTime),
                 PROBE_OUTLET(out_requestSenseDelay),
                 PROBE_OUTLET(out_parity_E),
                 PROBE_OUTLET(out_burstTransfer_E),
                 PROBE_OUTLET(out_SCSITerminators_0),
                 PROBE_OUTLET(out_verSCSIConfigration),
                 PROBE_OUTLET(out_verConfigurateionDriver),
                 PROBE_OUTLET(out_verPCB),
                 PROBE_OUTLET(out_verSCSIBIOS)};
    d.actions = {Action("act_ok:", &ProbeController::ok),
                 Action("act_default:", &ProbeController::makeDefault),
                 Action("act_erase:", &ProbeController::erase),
                 Action("act_write:", &ProbeController::write),
                 Action("act_cancel:", &ProbeController::cancel)};
    d.windowShouldClose = [](NSObject* owner, NSObject*) {
        return static_cast<ProbeController*>(owner)->shouldClose();
    };
    d.awakeFromNib = [](NSObject* owner) { static_cast<ProbeController*>(owner)->awakeFromNib(); };
    NSRegisterNibClass(d);
}

}  // namespace

int main(int argc, char** argv) {
    quiet = argc > 1 && std::strcmp(argv[1], "--quiet") == 0;
    Register();
    return NSApplicationMain(argc, argv);
}
