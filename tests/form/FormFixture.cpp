#include "tests/form/FormFixture.h"

#include <cstring>

#include "tests/support/PlatformProbes.h"

FormControls::FormControls() {
    container = window.add<FakeView>();
    hostId = container->add<FakePopUp>(0, 16);
    resetTime = container->add<FakePopUp>(0, 8);
    senseDelay = container->add<FakePopUp>(0, 8);
    burstE = container->add<FakeButton>();
    burstD = container->add<FakeButton>();
    parityE = container->add<FakeButton>();
    parityD = container->add<FakeButton>();
    for (auto& t : term) t = container->add<FakeButton>();
    verUtility = window.add<FakeTextField>();
    verKext = window.add<FakeTextField>();
    verBios = window.add<FakeTextField>();
    verPcb = window.add<FakeTextField>();
    for (int i = 0; i < 16; ++i) {
        maxTransfer[i] = container->add<FakePopUp>(MaxTransferID + i, 11);
        sync[i] = container->add<FakeButton>(SyncTransferID + i);
        wide[i] = container->add<FakeButton>(WideTransferID + i);
        disconnect[i] = container->add<FakeButton>(DisconnectID + i);
    }
}

void FormControls::connect(SC820Controller& c) {
    c.out_hostSCSIID = hostId;
    c.out_resetRecoveringTime = resetTime;
    c.out_requestSenseDelay = senseDelay;
    c.out_burstTransfer_E = burstE;
    c.out_burstTransfer_D = burstD;
    c.out_parity_E = parityE;
    c.out_parity_D = parityD;
    c.out_SCSITerminators_0 = term[0];
    c.out_SCSITerminators_1 = term[1];
    c.out_SCSITerminators_2 = term[2];
    c.out_SCSITerminators_3 = term[3];
    c.out_verSCSIConfigration = verUtility;
    c.out_verConfigurateionDriver = verKext;
    c.out_verSCSIBIOS = verBios;
    c.out_verPCB = verPcb;
    for (int i = 0; i < 16; ++i) {
        c.out_maxTransfer[i] = maxTransfer[i];
        c.out_syncTransfer[i] = sync[i];
        c.out_wideTransfer[i] = wide[i];
        c.out_disconnect[i] = disconnect[i];
    }
}

void FormTest::SetUp() {
    UseMainBundleAt(SC820_BUNDLE_DIR);
    host.swapDrivers();
    controls.connect(controller);
}

void FormTest::TearDown() {
    UseMainBundleAt(SC820_BUNDLE_DIR);
}

SCSIUTY_CFG FormTest::DistinctiveRecord() {
    SCSIUTY_CFG r;
    auto* bytes = reinterpret_cast<uint8_t*>(&r);
    for (size_t i = 0; i < sizeof r; ++i) bytes[i] = static_cast<uint8_t>(0x5A ^ (i * 7));
    r.HA_ScsiID = 6;
    r.ResetToSelTime = 3;
    r.RQdelay = 2;
    r.Burst = 1;
    r.ParityEnable = 1;
    r.TermMode = ENABLE_HIGHTERM;
    for (int i = 0; i < 16; ++i) {
        r.SyncEnable[i] = i % 2;
        r.WideEnable[i] = (i / 2) % 2;
        r.DisconnectEnable[i] = (i / 4) % 2;
        // Every speed from 1 to 7 on wide and narrow targets, and reserved/8..11 on wide ones.
        const int32_t wideSpeeds[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
        r.SyncSpeed[i] = static_cast<SYNC_SPEED>(r.WideEnable[i] ? wideSpeeds[i % 12] : 1 + i % 7);
    }
    return r;
}
