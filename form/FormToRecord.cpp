// Form to record, and the factory defaults.
#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "form/Controls.h"
#include "form/SpeedTable.h"

void SC820Controller::getConfigWindow() {
    eep_config = &eep_config_buf;

    // Only the enabled button of each pair is read.
    eep_config->Burst = ButtonIsOn(out_burstTransfer_E) ? 0 : 1;
    eep_config->ParityEnable = ButtonIsOn(out_parity_E) ? 1 : 0;

    // The general lists store their position unconverted, in 8 bits.
    eep_config->HA_ScsiID = static_cast<UCHAR>(SelectedPosition(out_hostSCSIID));
    eep_config->ResetToSelTime = static_cast<UCHAR>(SelectedPosition(out_resetRecoveringTime));
    eep_config->RQdelay = static_cast<UCHAR>(SelectedPosition(out_requestSenseDelay));

    for (int i = 0; i < kSCSITargetCount; ++i)
        eep_config->DisconnectEnable[i] = ButtonIsOn(out_disconnect[i]) ? 1 : 0;
    for (int i = 0; i < kSCSITargetCount; ++i)
        eep_config->SyncEnable[i] = ButtonIsOn(out_syncTransfer[i]) ? 1 : 0;
    for (int i = 0; i < kSCSITargetCount; ++i)
        eep_config->WideEnable[i] = ButtonIsOn(out_wideTransfer[i]) ? 1 : 0;
    // The width comes from the check box as the user left it, stored just above.
    for (int i = 0; i < kSCSITargetCount; ++i) {
        const int32_t speed =
            SyncSpeedForPosition(SelectedPosition(out_maxTransfer[i]),
                                 eep_config->WideEnable[i] == 1, eep_config->SyncSpeed[i]);
        eep_config->SyncSpeed[i] = static_cast<SYNC_SPEED>(speed);
    }

    const int states[4] = {ButtonIsOn(out_SCSITerminators_0), ButtonIsOn(out_SCSITerminators_1),
                           ButtonIsOn(out_SCSITerminators_2), ButtonIsOn(out_SCSITerminators_3)};
    eep_config->TermMode = static_cast<TERM_MODE>(TermModeForButtons(states, eep_config->TermMode));
}

void SC820Controller::act_default(id /*sender*/) {
    eep_config = &eep_config_buf;
    const SCSIUTY_CFG before = eep_config_buf;
    if (doGetEEPDefault() == 0) {
        // The card refused: keep the record and the form (the user's unsaved edits) as they are.
        eep_config_buf = before;
        ShowAlert(MSG_DEFAULTFAIL, AlertButtons::ok);
        return;
    }
    // The factory settings carry no circuit-board version of this card: keep the card's own.
    eep_config->PcbVersion = before.PcbVersion;
    setConfigWindow();
}
