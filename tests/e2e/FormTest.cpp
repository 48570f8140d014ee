// The configuration form end to end: closing stores, Cancel and OK do not, Default loads the
// factory settings.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "app/Messages.h"
#include "driverif/CommandCodes.h"
#include "tests/e2e/Scenario.h"
#include "tests/support/SmallDisk.h"

namespace {

namespace fs = std::filesystem;

using Form = Scenario;

std::string Bytes(const SCSIUTY_CFG& r) {
    return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

SCSIUTY_CFG FactoryRecord(const TempHost& host, const TempDir& work) {
    const std::string file = work.path() + "/factory.bin";
    host.hostOk({"factory", "get", file});
    SCSIUTY_CFG r{};
    const std::string bytes = ReadFileBytes(file);
    if (bytes.size() == sizeof r) std::memcpy(&r, bytes.data(), sizeof r);
    return r;
}

TEST_F(Form, ClosingStoresTheEditedFormAndSaysSo) {
    const SCSIUTY_CFG before = eeprom();
    SCSIUTY_CFG expected = before;
    const RunResult r =
        run("answer 1\n"
            "select out_hostSCSIID 5\n"
            "set out_parity_D 1\n"
            "set out_parity_E 0\n"
            "set tag:305 1\n"
            "select tag:105 6\n"
            "set tag:415 1\n"
            "close\n"
            "answer 1\n");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.alertMessages(), (std::vector<std::string>{text(MSG_START), text(MSG_SUCCESS)}));
    EXPECT_EQ(r.lastKind(), "terminate");
    const SCSIUTY_CFG stored = eeprom();
    EXPECT_EQ(stored.HA_ScsiID, 5);
    EXPECT_EQ(stored.ParityEnable, 0);
    EXPECT_EQ(stored.WideEnable[5], 1);
    EXPECT_EQ(stored.SyncSpeed[5], SYNC_5MB);  // 10 MB/s on a wide target
    EXPECT_EQ(stored.DisconnectEnable[15], 1);
    // Everything the form does not edit came back unchanged.
    expected.HA_ScsiID = stored.HA_ScsiID;
    EXPECT_EQ(stored.Valid, expected.Valid);
    EXPECT_EQ(stored.PcbVersion, expected.PcbVersion);
    EXPECT_EQ(stored.Reserved1, expected.Reserved1);
    EXPECT_EQ(stored.BootTargetID, expected.BootTargetID);
    // The record the store replaced was kept first.
    const std::string folder = work.path() + "/state/sc820/backups";
    ASSERT_TRUE(fs::exists(folder));
    std::vector<std::string> kept;
    for (const auto& e : fs::directory_iterator(folder)) kept.push_back(e.path().string());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(fs::path(kept[0]).filename().string().substr(0, 7), "eeprom-");
    EXPECT_EQ(ReadFileBytes(kept[0]), Bytes(before));
}

TEST_F(Form, ARefusedStoreKeepsTheWindowAndLosesNothing) {
    const SCSIUTY_CFG before = eeprom();
    host.hostOk({"fault", "refuse-1", "on"});
    const RunResult r =
        run("answer 1\n"
            "select out_hostSCSIID 2\n"
            "close\n"
            "answer 1\n"
            "dump\n"
            "close\n"
            "answer 1\n"
            "press cancel\n");
    EXPECT_EQ(r.alertMessages(), (std::vector<std::string>{text(MSG_START), text(MSG_STOREFAIL),
                                                           text(MSG_STOREFAIL)}));
    EXPECT_EQ(r.control("out_hostSCSIID"), "2");  // the edit is still in the form
    EXPECT_EQ(r.lastKind(), "terminate");
    EXPECT_EQ(Bytes(eeprom()), Bytes(before));
    EXPECT_EQ(host.commandCounts()[kSetEEPConfig], 2);
}

std::map<std::string, std::string> FilesIn(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return files;
}

// The card's folder lies on a small disk that fills up once start-up has swapped the drivers:
// the store fails as a whole, the utility says so, and the record on the card is the old one.
TEST_F(Form, AStoreOnAFullDiskShowsStoreFailAndLosesNothing) {
    const std::string db = host.root() + "/var/db/sc820";
    std::map<std::string, std::string> files = FilesIn(db);
    SmallDisk disk(db, 512 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.reason();
    for (const auto& [name, bytes] : files) WriteFileBytes(db + "/" + name, bytes);
    // kextload, the last tool of start-up, is wrapped: the real tool runs from a twin root that
    // shares the host's var/, then the wrapper fills the disk.
    const std::string twin = work.path() + "/twin";
    fs::create_directories(twin + "/sbin");
    fs::create_symlink(host.root() + "/var", twin + "/var");
    fs::create_symlink(host.root() + "/usr/libexec/sc820-host", twin + "/sbin/kextload");
    const std::string wrapper = host.root() + "/sbin/kextload";
    fs::remove(wrapper);
    WriteFileBytes(wrapper, "#!/bin/sh\n'" + twin +
                                "/sbin/kextload' \"$@\" || exit $?\ncat /dev/zero > '" + db +
                                "/filler' 2>/dev/null\nexit 0\n");
    ASSERT_EQ(chmod(wrapper.c_str(), 0755), 0);
    const std::string before = ReadFileBytes(db + "/eeprom.bin");

    const RunResult r = run("answer 1\nselect out_hostSCSIID 5\nclose\nanswer 1\npress cancel\n");
    EXPECT_EQ(r.alertMessages(), (std::vector<std::string>{text(MSG_START), text(MSG_STOREFAIL)}))
        << r.output;
    EXPECT_EQ(r.lastKind(), "terminate");
    ASSERT_TRUE(fs::exists(db + "/filler")) << "the disk was never filled";
    EXPECT_EQ(ReadFileBytes(db + "/eeprom.bin"), before);
    for (const auto& [name, bytes] : FilesIn(db))
        EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name << " was left behind";
    EXPECT_EQ(host.commandCounts()[kSetEEPConfig], 1);
}

TEST_F(Form, OkDoesNothingAndCancelStoresNothing) {
    const SCSIUTY_CFG before = eeprom();
    const RunResult r = run("answer 1\nselect out_hostSCSIID 1\npress ok\ndump\npress cancel\n");
    EXPECT_EQ(r.alertMessages(), std::vector<std::string>{text(MSG_START)});
    EXPECT_EQ(r.control("out_hostSCSIID"), "1");
    EXPECT_EQ(r.lastKind(), "terminate");
    EXPECT_EQ(Bytes(eeprom()), Bytes(before));
    EXPECT_EQ(host.commandCounts()[kSetEEPConfig], 0);
    // Cancel leaves the utility's extension loaded.
    EXPECT_NE(host.hostOk({"status"}).find("utility-services 1"), std::string::npos);
}

TEST_F(Form, DefaultThenCloseStoresFactorySettingsWithTheCardsBoardVersion) {
    const SCSIUTY_CFG card = eeprom();
    SCSIUTY_CFG expected = FactoryRecord(host, work);
    // The factory record carries a board version of its own; the card's must survive the load.
    ASSERT_NE(expected.PcbVersion, card.PcbVersion);
    ASSERT_NE(expected.PcbRevision, card.PcbRevision);
    expected.PcbVersion = card.PcbVersion;
    const RunResult r = run("answer 1\npress default\ndump\nclose\nanswer 1\n");
    EXPECT_EQ(r.alertMessages(), (std::vector<std::string>{text(MSG_START), text(MSG_SUCCESS)}));
    EXPECT_EQ(r.control("out_hostSCSIID"), std::to_string(expected.HA_ScsiID));
    EXPECT_EQ(r.control("out_verPCB"), "1.20");
    EXPECT_EQ(Bytes(eeprom()), Bytes(expected));
}

TEST_F(Form, DefaultThenCancelStoresNothing) {
    const SCSIUTY_CFG before = eeprom();
    const RunResult r = run("answer 1\npress default\npress cancel\n");
    EXPECT_EQ(r.lastKind(), "terminate");
    EXPECT_EQ(Bytes(eeprom()), Bytes(before));
    EXPECT_EQ(host.commandCounts()[kGetEEPDefault], 1);
}

TEST_F(Form, ARefusedDefaultKeepsTheUsersEdits) {
    host.hostOk({"fault", "refuse-2", "on"});
    const RunResult r =
        run("answer 1\nselect out_hostSCSIID 3\npress default\nanswer 1\ndump\npress cancel\n");
    EXPECT_EQ(r.alertMessages(),
              (std::vector<std::string>{text(MSG_START), text(MSG_DEFAULTFAIL)}));
    EXPECT_EQ(r.control("out_hostSCSIID"), "3");
}

TEST_F(Form, AScriptThatEndsWhileIdleQuitsWithoutStoring) {
    const SCSIUTY_CFG before = eeprom();
    const RunResult r = run("answer 1\nselect out_hostSCSIID 4\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.lastKind(), "end");
    EXPECT_EQ(Bytes(eeprom()), Bytes(before));
}

}  // namespace
