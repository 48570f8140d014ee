// Record to form: the only path from the configuration record to the window.
#include <string>
#include <vector>

#include "app/SC820Controller.h"
#include "driverif/CommandCodes.h"
#include "driverif/DriverNames.h"
#include "driverif/PcbVersion.h"
#include "form/Controls.h"
#include "form/SpeedTable.h"

namespace {

// A version from an information dictionary; a dictionary without the key shows nothing.
NSString BundleVersionText(const NSDictionary* info) {
    if (info == nullptr) return NSString();
    return info->objectForKey(kBundleVersionKey).value_or(NSString());
}

}  // namespace

void SC820Controller::setConfigWindow() {
    eep_config = &eep_config_buf;

    // Burst's sense is inverted: 0 means enabled.
    const bool burstEnabled = eep_config->Burst == 0;
    SetButtonState(out_burstTransfer_E, burstEnabled ? 1 : 0);
    SetButtonState(out_burstTransfer_D, burstEnabled ? 0 : 1);

    const bool parityEnabled = eep_config->ParityEnable != 0;
    SetButtonState(out_parity_E, parityEnabled ? 1 : 0);
    SetButtonState(out_parity_D, parityEnabled ? 0 : 1);

    SelectPosition(out_hostSCSIID, eep_config->HA_ScsiID);
    SelectPosition(out_resetRecoveringTime, eep_config->ResetToSelTime);
    SelectPosition(out_requestSenseDelay, eep_config->RQdelay);

    for (int i = 0; i < kSCSITargetCount; ++i)
        SetButtonState(out_disconnect[i], eep_config->DisconnectEnable[i] != 0 ? 1 : 0);
    for (int i = 0; i < kSCSITargetCount; ++i)
        SetButtonState(out_syncTransfer[i], eep_config->SyncEnable[i] != 0 ? 1 : 0);
    for (int i = 0; i < kSCSITargetCount; ++i)
        SetButtonState(out_wideTransfer[i], eep_config->WideEnable[i] != 0 ? 1 : 0);
    for (int i = 0; i < kSCSITargetCount; ++i) {
        const bool wide = eep_config->WideEnable[i] != 0;
        SelectPosition(out_maxTransfer[i], MaxTransferPosition(eep_config->SyncSpeed[i], wide));
    }

    // Exactly one terminator button on; each is set explicitly.
    NSButton* terminators[4] = {out_SCSITerminators_0, out_SCSITerminators_1, out_SCSITerminators_2,
                                out_SCSITerminators_3};
    const int on = TerminatorButtonForMode(eep_config->TermMode);
    for (int b = 0; b < 4; ++b) SetButtonState(terminators[b], b == on ? 1 : 0);

    // One read sweep of the flash into a zeroed scratch buffer; nothing in the window is filled
    // from it.
    std::vector<uint8_t> scratch(kFlashBufferSize, 0);
    for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
        doReadFlash(scratch.data() + k * kFlashChunkSize);

    SetText(out_verPCB, NSString(PcbVersionText(eep_config->PcbVersion)));
    SetText(out_verSCSIConfigration, BundleVersionText(NSBundle::mainBundle().infoDictionary()));

    NSString kextInfoPath = NSBundle::mainBundle().bundlePath();
    kextInfoPath.appendString(kUtilityKextInfoSubpath);
    const auto kextInfo = NSDictionary::dictionaryWithContentsOfFile(kextInfoPath);
    SetText(out_verConfigurateionDriver,
            kextInfo ? BundleVersionText(&*kextInfo) : NSString("---"));
}
