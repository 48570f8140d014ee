// The start-up sequence, run once when the main window has been loaded.
#include <cstring>
#include <string>

#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "driverctl/Pause.h"
#include "driverif/DriverNames.h"

namespace {

// Characters that a shell still interprets between double quotes. A bundle path holding one
// would let a crafted folder name run commands, so such a path fails the path test.
bool IsShellSpecialInQuotes(unsigned char c) {
    return c == '"' || c == '$' || c == '`' || c == '\\';
}

}  // namespace

void SC820Controller::awakeFromNib() {
    containerView_ = out_hostSCSIID != nullptr ? out_hostSCSIID->superview() : nullptr;

    if (canUnloadDriver() == 0) {
        ShowAlert(MSG_WARN, AlertButtons::ok);
        NSApp->terminate(this, kExitFailure);
    }

    if (!passesPathTest()) {
        ShowAlertWithMessage(ComposedPathMessage(NSBundle::mainBundle().bundlePath()),
                             AlertButtons::ok);
        NSApp->terminate(this, kExitFailure);
    }

    acquireRights();

    const std::string searchText = std::string(kSC820DriverBundleID) + " (";
    const NSString biosVersion = getBiosVersion(searchText.c_str());
    if (out_verSCSIBIOS != nullptr) out_verSCSIBIOS->setStringValue(biosVersion);

    if (ShowAlert(MSG_START, AlertButtons::okCancel) != 1) NSApp->terminate(this, kExitDeclined);

    swapDrivers();
    BusyPause(kStartupPauseCount);

    if (doGetEEPConfig() == 0) {
        // Showing an all-zero record would store zeros over the card's EEPROM at close.
        ShowAlert(MSG_READFAIL, AlertButtons::ok);
        NSApp->terminate(this, kExitFailure);
    }

    bindTaggedControls();
    setConfigWindow();
}

// Runs the program "test" in the bundle's resources through the shell and requires exactly ten
// lines from it: a bundle in a place the shell cannot reach by that path fails.
bool SC820Controller::passesPathTest() {
    NSString testPath("\"");
    testPath.appendString(NSBundle::mainBundle().bundlePath());
    testPath.appendString("/Contents/Resources/test");
    testPath.appendString("\"");

    // One byte per UTF-16 code unit, its low 8 bits; the zeroed buffer supplies the terminator.
    char command[kTestCommandBufferSize];
    std::memset(command, 0, sizeof command);
    if (testPath.length() > kTestCommandBufferSize - 1) return false;
    for (size_t i = 0; i < testPath.length(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(testPath.characterAtIndex(i) & 0xFF);
        const bool enclosingQuote = i == 0 || i + 1 == testPath.length();
        if (!enclosingQuote && IsShellSpecialInQuotes(byte)) return false;
        command[i] = static_cast<char>(byte);
    }
    return execLog(command) == 10;
}

// The 64 per-target controls are found by tag in the view that holds the host SCSI ID list.
void SC820Controller::bindTaggedControls() {
    auto find = [this](long tag) -> NSView* {
        return containerView_ != nullptr ? containerView_->viewWithTag(tag) : nullptr;
    };
    for (int i = 0; i < kSCSITargetCount; ++i)
        out_maxTransfer[i] = dynamic_cast<NSPopUpButton*>(find(MaxTransferID + i));
    for (int i = 0; i < kSCSITargetCount; ++i)
        out_syncTransfer[i] = dynamic_cast<NSButton*>(find(SyncTransferID + i));
    for (int i = 0; i < kSCSITargetCount; ++i)
        out_wideTransfer[i] = dynamic_cast<NSButton*>(find(WideTransferID + i));
    for (int i = 0; i < kSCSITargetCount; ++i)
        out_disconnect[i] = dynamic_cast<NSButton*>(find(DisconnectID + i));
}
