// The record shown in the form and read back from it, against plain controls and an emulated
// card.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "app/SC820Controller.h"
#include "tests/support/FakeControls.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

std::string Bytes(const SCSIUTY_CFG& r) {
    return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

// A record with a distinctive value in every byte, then form-representable values in the
// fields the form edits: every speed on wide and narrow targets, reserved and 8..11 on wide ones.
SCSIUTY_CFG DistinctiveRecord() {
    SCSIUTY_CFG r;
    auto* bytes = reinterpret_cast<uint8_t*>(&r);
    for (size_t i = 0; i < sizeof r; ++i) bytes[i] = static_cast<uint8_t>(0x5A ^ (i * 7));
    r.HA_ScsiID = 6;
    r.ResetToSelTime = 3;
    r.RQdelay = 2;
    r.Burst = r.ParityEnable = 1;
    r.TermMode = ENABLE_HIGHTERM;
    for (int i = 0; i < 16; ++i) {
        r.SyncEnable[i] = i % 2;
        r.WideEnable[i] = (i / 2) % 2;
        r.DisconnectEnable[i] = (i / 4) % 2;
        r.SyncSpeed[i] = static_cast<SYNC_SPEED>(r.WideEnable[i] ? i % 12 : 1 + i % 7);
    }
    return r;
}

// A controller wired to plain controls, on a fresh emulated host, the built bundle its main one.
class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseMainBundleAt(SC820_BUNDLE_DIR);
        host.swapDrivers();
        SC820Controller& c = controller;
        c.out_hostSCSIID = &hostId;
        c.out_resetRecoveringTime = &resetTime;
        c.out_requestSenseDelay = &senseDelay;
        c.out_burstTransfer_E = &burstE;
        c.out_burstTransfer_D = &burstD;
        c.out_parity_E = &parityE;
        c.out_parity_D = &parityD;
        c.out_SCSITerminators_0 = &term[0];
        c.out_SCSITerminators_1 = &term[1];
        c.out_SCSITerminators_2 = &term[2];
        c.out_SCSITerminators_3 = &term[3];
        c.out_verSCSIConfigration = &verUtility;
        c.out_verConfigurateionDriver = &verKext;
        c.out_verSCSIBIOS = &verBios;
        c.out_verPCB = &verPcb;
        for (int i = 0; i < 16; ++i) {
            c.out_maxTransfer[i] = &maxTransfer[i];
            c.out_syncTransfer[i] = &sync[i];
            c.out_wideTransfer[i] = &wide[i];
            c.out_disconnect[i] = &disconnect[i];
        }
    }
    void TearDown() override { UseMainBundleAt(SC820_BUNDLE_DIR); }
    // Shows the record and reads the form back.
    SCSIUTY_CFG roundTrip(const SCSIUTY_CFG& record) {
        controller.eep_config_buf = record;
        controller.setConfigWindow();
        controller.getConfigWindow();
        return controller.eep_config_buf;
    }

    TempHost host;
    RecordingBackend backend;
    FakePopUp hostId{16}, resetTime{8}, senseDelay{8}, maxTransfer[16];
    FakeButton burstE, burstD, parityE, parityD, term[4], sync[16], wide[16], disconnect[16];
    FakeTextField verUtility, verKext, verBios, verPcb;
    SC820Controller controller;
};

// Every byte is kept (and through the card: the batch export and import).
TEST_F(FormTest, ShownAndReadBackTheRecordKeepsEveryByte) {
    const SCSIUTY_CFG original = DistinctiveRecord();
    EXPECT_EQ(Bytes(roundTrip(original)), Bytes(original));
}

// Shown, then edited, the record comes back as the form holds it. Burst 2 reads disabled, 0
// stays enabled; flags of 2 or more are on; the low terminator reads automatic; a narrow
// target's reserved speed reads 20 MB/s, a wide one's stays reserved. Of a pair of buttons both
// on, the enabled one counts. An edited width decides the stored speed: 20 MB/s on a wide target
// is position 2, which is 20 MB/s on a narrow one; position 7 is a rate no wide speed gives, so
// the former code stays.
TEST_F(FormTest, ValuesTheFormCannotShowComeBackNormalised) {
    using Change = std::function<void(SCSIUTY_CFG&)>;
    const Change same = [](auto&) {};
    const std::function<void()> none = [] {};
    const std::tuple<Change, std::function<void()>, Change> cases[] = {
        {[](auto& r) { r.Burst = 2; }, none, [](auto& r) { r.Burst = 1; }},
        {[](auto& r) { r.Burst = 0; }, none, same},
        {[](auto& r) { r.ParityEnable = 2; }, none, [](auto& r) { r.ParityEnable = 1; }},
        {[](auto& r) { r.SyncEnable[3] = 2, r.WideEnable[5] = -1, r.DisconnectEnable[0] = 7; },
         none, [](auto& r) { r.SyncEnable[3] = r.WideEnable[5] = r.DisconnectEnable[0] = 1; }},
        {[](auto& r) { r.TermMode = ENABLE_LOWTERM; }, none,
         [](auto& r) { r.TermMode = AUTO_TERM; }},
        {[](auto& r) { r.TermMode = DISABLE_TERM; }, none, same},
        {[](auto& r) { r.TermMode = ENABLE_TERM; }, none, same},
        {[](auto& r) { r.WideEnable[2] = 0, r.SyncSpeed[2] = SYNC_RESERVED; }, none,
         [](auto& r) { r.SyncSpeed[2] = SYNC_20MB; }},
        {[](auto& r) { r.WideEnable[2] = 1, r.SyncSpeed[2] = SYNC_RESERVED; }, none, same},
        {[](auto& r) { r.Burst = 0, r.ParityEnable = 0; },
         [this] { burstD.value = parityE.value = 1; }, [](auto& r) { r.ParityEnable = 1; }},
        {[](auto& r) {
             r.WideEnable[0] = 1, r.SyncSpeed[0] = SYNC_10MB;
             r.WideEnable[1] = 0, r.SyncSpeed[1] = SYNC_8MB;
         },
         [this] { wide[0].value = 0, wide[1].value = 1; },
         [](auto& r) { r.WideEnable[0] = 0, r.SyncSpeed[0] = SYNC_20MB, r.WideEnable[1] = 1; }},
    };
    for (const auto& [set, edit, expect] : cases) {
        SCSIUTY_CFG record = DistinctiveRecord();
        set(record);
        SCSIUTY_CFG expected = record;
        expect(expected);
        controller.eep_config_buf = record;
        controller.setConfigWindow();
        edit();
        controller.getConfigWindow();
        EXPECT_EQ(Bytes(controller.eep_config_buf), Bytes(expected))
            << &set - &std::get<0>(cases[0]);
    }
}

// The SCSI BIOS version is not the refresh's to change.
TEST_F(FormTest, ControlsShowTheRecord) {
    SCSIUTY_CFG r = DistinctiveRecord();  // burst disabled, parity enabled
    r.PcbVersion = 0x0100;
    controller.eep_config_buf = r;
    controller.setConfigWindow();
    EXPECT_EQ(std::vector<int>({burstE.value, burstD.value, parityE.value, parityD.value}),
              std::vector<int>({0, 1, 1, 0}));
    EXPECT_EQ(verPcb.value, "0.01");  // the minor part zero-padded; 0x2001 is 1.20
    r.Burst = r.ParityEnable = r.WideEnable[4] = r.SyncEnable[15] = 0;
    r.TermMode = DISABLE_TERM;
    r.HA_ScsiID = 13;
    r.SyncSpeed[4] = r.SyncSpeed[5] = SYNC_5MB;
    r.WideEnable[5] = r.WideEnable[6] = r.DisconnectEnable[15] = 1;
    r.SyncSpeed[6] = SYNC_RESERVED;
    r.PcbVersion = 0x3412;
    controller.eep_config_buf = r;
    verBios.value = "3.1.4";
    controller.setConfigWindow();
    EXPECT_EQ(
        std::vector<int>({burstE.value, burstD.value, parityE.value, parityD.value, term[0].value,
                          term[1].value, term[2].value, term[3].value, disconnect[15].value,
                          sync[15].value, sync[1].value, wide[2].value}),
        std::vector<int>({1, 0, 0, 1, 0, 0, 0, 1, 1, 0, 1, 1}));
    EXPECT_EQ(std::vector<int>({hostId.selected, resetTime.selected, senseDelay.selected,
                                maxTransfer[4].lastSelected, maxTransfer[5].lastSelected,
                                maxTransfer[6].lastSelected}),
              std::vector<int>({13, 3, 2, 10, 6, -1}));
    EXPECT_EQ(verBios.value + " " + verPcb.value, "3.1.4 12.34");
}

}  // namespace
