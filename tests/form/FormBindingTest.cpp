// The record shown in the form and read back from it, against plain controls and an emulated
// card.
#include <cstring>
#include <filesystem>
#include <functional>

#include "driverif/DriverNames.h"
#include "tests/form/FormFixture.h"
#include "tests/support/NestedPlists.h"
#include "tests/support/PlatformProbes.h"

namespace {

namespace fs = std::filesystem;

std::string RecordBytes(const SCSIUTY_CFG& r) {
    return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

TEST_F(FormTest, ShownAndReadBackTheRecordKeepsEveryByte) {
    const SCSIUTY_CFG original = DistinctiveRecord();
    controller.eep_config_buf = original;
    controller.setConfigWindow();
    controller.getConfigWindow();
    EXPECT_EQ(RecordBytes(controller.eep_config_buf), RecordBytes(original));

    // And through the card: stored, then read from the card's EEPROM file, bit for bit.
    ASSERT_EQ(controller.doSetEEPConfig(), 1);
    TempDir dir;
    host.hostOk({"eeprom", "get", dir.path() + "/e.bin"});
    EXPECT_EQ(ReadFileBytes(dir.path() + "/e.bin"), RecordBytes(original));
}

TEST_F(FormTest, ValuesTheFormCannotShowComeBackNormalised) {
    struct Case {
        const char* name;
        std::function<void(SCSIUTY_CFG&)> set;
        std::function<void(SCSIUTY_CFG&)> expect;  // applied to a copy of the set record
    };
    const Case cases[] = {
        {"burst 2 reads disabled", [](auto& r) { r.Burst = 2; }, [](auto& r) { r.Burst = 1; }},
        {"burst 0 stays enabled", [](auto& r) { r.Burst = 0; }, [](auto&) {}},
        {"parity 2 is on", [](auto& r) { r.ParityEnable = 2; },
         [](auto& r) { r.ParityEnable = 1; }},
        {"flags of 2 or more are on",
         [](auto& r) {
             r.SyncEnable[3] = 2;
             r.WideEnable[5] = -1;
             r.DisconnectEnable[0] = 7;
         },
         [](auto& r) {
             r.SyncEnable[3] = 1;
             r.WideEnable[5] = 1;
             r.DisconnectEnable[0] = 1;
         }},
        {"low terminator reads automatic", [](auto& r) { r.TermMode = ENABLE_LOWTERM; },
         [](auto& r) { r.TermMode = AUTO_TERM; }},
        {"terminators off stay off", [](auto& r) { r.TermMode = DISABLE_TERM; }, [](auto&) {}},
        {"terminators on stay on", [](auto& r) { r.TermMode = ENABLE_TERM; }, [](auto&) {}},
        {"narrow reserved reads 20 MB/s",
         [](auto& r) {
             r.WideEnable[2] = 0;
             r.SyncSpeed[2] = SYNC_RESERVED;
         },
         [](auto& r) { r.SyncSpeed[2] = SYNC_20MB; }},
        {"wide reserved stays reserved",
         [](auto& r) {
             r.WideEnable[2] = 1;
             r.SyncSpeed[2] = SYNC_RESERVED;
         },
         [](auto&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SCSIUTY_CFG record = DistinctiveRecord();
        c.set(record);
        SCSIUTY_CFG expected = record;
        c.expect(expected);
        controller.eep_config_buf = record;
        controller.setConfigWindow();
        controller.getConfigWindow();
        EXPECT_EQ(RecordBytes(controller.eep_config_buf), RecordBytes(expected));
    }
}

TEST_F(FormTest, ControlsShowTheRecord) {
    SCSIUTY_CFG r = DistinctiveRecord();
    r.Burst = 0;
    r.ParityEnable = 0;
    r.TermMode = DISABLE_TERM;
    r.HA_ScsiID = 13;
    r.WideEnable[4] = 0;
    r.SyncSpeed[4] = SYNC_5MB;
    r.WideEnable[5] = 1;
    r.SyncSpeed[5] = SYNC_5MB;
    r.WideEnable[6] = 1;
    r.SyncSpeed[6] = SYNC_RESERVED;
    r.DisconnectEnable[15] = 1;
    r.SyncEnable[15] = 0;
    controller.eep_config_buf = r;
    controls.verBios->value = "3.1.4";
    controller.setConfigWindow();

    EXPECT_EQ(controls.burstE->value, 1);
    EXPECT_EQ(controls.burstD->value, 0);
    EXPECT_EQ(controls.parityE->value, 0);
    EXPECT_EQ(controls.parityD->value, 1);
    EXPECT_EQ(controls.term[3]->value, 1);
    EXPECT_EQ(controls.term[0]->value + controls.term[1]->value + controls.term[2]->value, 0);
    EXPECT_EQ(controls.hostId->selected, 13);
    EXPECT_EQ(controls.resetTime->selected, 3);
    EXPECT_EQ(controls.senseDelay->selected, 2);
    EXPECT_EQ(controls.maxTransfer[4]->lastSelected, 10);
    EXPECT_EQ(controls.maxTransfer[5]->lastSelected, 6);
    EXPECT_EQ(controls.maxTransfer[6]->lastSelected, -1);
    EXPECT_EQ(controls.disconnect[15]->value, 1);
    EXPECT_EQ(controls.sync[15]->value, 0);
    EXPECT_EQ(controls.sync[1]->value, 1);
    EXPECT_EQ(controls.wide[2]->value, 1);
    // The SCSI BIOS version is not the refresh's to change.
    EXPECT_EQ(controls.verBios->value, "3.1.4");
}

TEST_F(FormTest, CircuitBoardVersionText) {
    const std::pair<uint16_t, const char*> cases[] = {
        {0x0001, "1.00"}, {0x2001, "1.20"}, {0x0100, "0.01"}, {0x3412, "12.34"}, {0, "0.00"}};
    for (const auto& [value, text] : cases) {
        controller.eep_config_buf.PcbVersion = value;
        controller.setConfigWindow();
        EXPECT_EQ(controls.verPcb->value, text) << std::hex << value;
    }
}

TEST_F(FormTest, MissingOrMalformedExtensionInfoShowsDashes) {
    TempDir bundle;
    const std::string kextInfo = bundle.path() + kUtilityKextInfoSubpath;
    fs::create_directories(fs::path(kextInfo).parent_path());
    UseMainBundleAt(bundle.path());
    controller.setConfigWindow();
    EXPECT_EQ(controls.verKext->value, "---");
    EXPECT_EQ(controls.verUtility->value, "");  // the bundle's own Info.plist is missing too

    WriteFileBytes(kextInfo, "<plist><dict><key>CFBundleVersion</key>");  // truncated
    controller.setConfigWindow();
    EXPECT_EQ(controls.verKext->value, "---");

    // Nested too deeply for the property-list library to read safely.
    WriteFileBytes(kextInfo, nested::XmlArrays(1'000'000));
    controller.setConfigWindow();
    EXPECT_EQ(controls.verKext->value, "---");
}

TEST_F(FormTest, EditedWidthDecidesTheStoredSpeed) {
    SCSIUTY_CFG r = DistinctiveRecord();
    r.WideEnable[0] = 1;
    r.SyncSpeed[0] = SYNC_10MB;  // 20 MB/s on a wide target: position 2
    r.WideEnable[1] = 0;
    r.SyncSpeed[1] = SYNC_8MB;  // position 7: a rate no wide speed gives
    controller.eep_config_buf = r;
    controller.setConfigWindow();
    ASSERT_EQ(controls.maxTransfer[0]->selected, 2);
    ASSERT_EQ(controls.maxTransfer[1]->selected, 7);

    controls.wide[0]->value = 0;
    controls.wide[1]->value = 1;
    controller.getConfigWindow();
    EXPECT_EQ(controller.eep_config_buf.WideEnable[0], 0);
    EXPECT_EQ(controller.eep_config_buf.SyncSpeed[0], SYNC_20MB);
    EXPECT_EQ(controller.eep_config_buf.WideEnable[1], 1);
    EXPECT_EQ(controller.eep_config_buf.SyncSpeed[1], SYNC_8MB);
}

TEST_F(FormTest, OnlyTheEnabledButtonOfAPairIsRead) {
    controls.burstE->value = 0;
    controls.burstD->value = 0;
    controls.parityE->value = 1;
    controls.parityD->value = 1;
    controller.getConfigWindow();
    EXPECT_EQ(controller.eep_config_buf.Burst, 1);
    EXPECT_EQ(controller.eep_config_buf.ParityEnable, 1);
}

TEST_F(FormTest, MissingPerTargetControlsAreSkippedAndReadAsOffAtPositionZero) {
    controller.out_maxTransfer[3] = nullptr;
    controller.out_disconnect[3] = nullptr;
    controller.out_wideTransfer[3] = nullptr;
    controller.out_syncTransfer[3] = nullptr;
    SCSIUTY_CFG r = DistinctiveRecord();
    r.DisconnectEnable[3] = r.SyncEnable[3] = r.WideEnable[3] = 1;
    r.SyncSpeed[3] = SYNC_5MB;
    controller.eep_config_buf = r;
    controller.setConfigWindow();
    controller.getConfigWindow();
    EXPECT_EQ(controller.eep_config_buf.DisconnectEnable[3], 0);
    EXPECT_EQ(controller.eep_config_buf.SyncEnable[3], 0);
    EXPECT_EQ(controller.eep_config_buf.WideEnable[3], 0);
    EXPECT_EQ(controller.eep_config_buf.SyncSpeed[3], SYNC_20MB);
}

}  // namespace
