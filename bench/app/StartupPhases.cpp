// The start-up of the utility, step by step, for startup_bench: what the program's entry and
// the controller's `awakeFromNib` do, on the real main window and the real controller against
// the host named by SC820_HOST_ROOT, with a line "mark NAME NANOSECONDS" (monotonic clock,
// comparable between processes) after each step. The last question is the user's and is left
// out; everything else runs as in the program. Linked like the utility, so that its process
// start costs what the utility's does. Any alert, any refusal ends it with status 1.
#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/SC820Controller.h"
#include "bench/support/Marks.h"
#include "driverctl/Pause.h"
#include "driverif/DriverNames.h"
#include "platform/window/NibLoader.h"
#include "platform/window/QtBackend.h"
#include "platform/window/automation/AutomatedBackend.h"
#include "platform/window/automation/Automation.h"
#include "tests/support/PlatformProbes.h"

namespace {

int Fail(const char* what) {
    std::printf("error %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Mark("main");
    UseMainBundleAt(SC820_BUNDLE_DIR);
    QApplication application(argc, argv);
    // The parent gives an empty automation script: any alert ends the child with an error.
    std::unique_ptr<Automation> automation = Automation::fromEnvironment();
    std::optional<AutomatedBackend> automated;
    if (automation) {
        automated.emplace(QtBackend::shared(), *automation);
        NSApplicationSetBackend(&*automated);
    }
    Mark("qt");

    QString error;
    std::unique_ptr<QWidget> window = LoadWindowDescription(kMainWindowDescription, &error);
    Mark("loaded");
    std::unique_ptr<NibOwner> owner =
        window ? NibOwner::instantiate(window.get(), &error) : nullptr;
    if (!owner) return Fail(error.toStdString().c_str());
    if (automation != nullptr) automation->attach(window.get(), owner->connectedOutlets());
    window->show();
    Mark("window");

    auto* controller = dynamic_cast<SC820Controller*>(owner->object());
    if (controller == nullptr || controller->out_hostSCSIID == nullptr) {
        return Fail("the window's owner is not connected");
    }
    NSView* container = controller->out_hostSCSIID->superview();
    if (controller->canUnloadDriver() == 0) return Fail("a device on the card is in use");
    Mark("in-use");

    const std::string test = "\"" + std::string(NSBundle::mainBundle().bundlePath().UTF8String()) +
                             "/Contents/Resources/test\"";
    if (controller->execLog(test.c_str()) != 10) return Fail("the path test failed");
    Mark("path");

    controller->acquireRights();
    Mark("rights");

    const std::string searchText = std::string(kSC820DriverBundleID) + " (";
    controller->out_verSCSIBIOS->setStringValue(controller->getBiosVersion(searchText.c_str()));
    Mark("version");

    controller->swapDrivers();
    Mark("swap");
    BusyPause(kStartupPauseCount);
    Mark("pause");

    if (controller->doGetEEPConfig() != 1) return Fail("the first read was refused");
    Mark("read");

    // The same 64 look-ups by tag as the start-up's binding, into the same slots.
    for (int i = 0; i < kSCSITargetCount; ++i) {
        controller->out_maxTransfer[i] =
            dynamic_cast<NSPopUpButton*>(container->viewWithTag(MaxTransferID + i));
        controller->out_syncTransfer[i] =
            dynamic_cast<NSButton*>(container->viewWithTag(SyncTransferID + i));
        controller->out_wideTransfer[i] =
            dynamic_cast<NSButton*>(container->viewWithTag(WideTransferID + i));
        controller->out_disconnect[i] =
            dynamic_cast<NSButton*>(container->viewWithTag(DisconnectID + i));
    }
    Mark("bind");
    controller->setConfigWindow();
    Mark("form");
    QApplication::processEvents();  // the window is exposed and painted
    Mark("display");
    std::fflush(stdout);
    return 0;
}
