// The configuration form end to end: closing stores (and gives the rights back), Cancel and OK
// do not, Default loads the factory settings.
#include <cstring>
#include <filesystem>

#include "app/Messages.h"
#include "driverif/CommandCodes.h"
#include "tests/e2e/Scenario.h"

namespace {

namespace fs = std::filesystem;
using Form = Scenario;

// The program's last steps: the rights given back (status 0), then the end.
void ClosedAndFreed(Scenario&, const RunResult& r) {
    ASSERT_GE(r.transcript.size(), 2u);
    EXPECT_EQ(r.transcript[r.transcript.size() - 2].fields,
              (std::vector<std::string>{"rights-freed", "0"}));
    EXPECT_EQ(r.lastKind(), "terminate");
}

TEST_F(Form, StoreCancelAndDefault) {
    runTable({
        {{"closing stores the edited form and keeps the record it replaced",
          "answer 1\nselect out_hostSCSIID 5\nset out_parity_D 1\nset out_parity_E 0\n"
          "set tag:305 1\nselect tag:105 6\nset tag:415 1\nclose\nanswer 1\n",
          {MSG_START, MSG_SUCCESS}},
         {},
         [](Scenario& s, const RunResult& r) {
             ClosedAndFreed(s, r);
             SCSIUTY_CFG expected;
             std::memcpy(&expected, s.recordBefore.data(), sizeof expected);
             expected.HA_ScsiID = 5;
             expected.ParityEnable = 0;
             expected.WideEnable[5] = 1;
             expected.SyncSpeed[5] = SYNC_5MB;  // 10 MB/s on a wide target
             expected.DisconnectEnable[15] = 1;
             EXPECT_TRUE(s.record() ==
                         std::string(reinterpret_cast<const char*>(&expected), sizeof expected));
             const auto kept = s.kept("eeprom");
             ASSERT_EQ(kept.size(), 1u);
             EXPECT_TRUE(ReadFileBytes(s.backups() + "/" + kept[0]) == s.recordBefore);
         },
         false,
         true},
        {{"a refused store keeps the window and the edit",
          "answer 1\nselect out_hostSCSIID 2\nclose\nanswer 1\ndump\nclose\nanswer 1\n"
          "press cancel\n",
          {MSG_START, MSG_STOREFAIL, MSG_STOREFAIL}},
         HostDoes({"fault", "refuse-1", "on"}),
         [](Scenario& s, const RunResult& r) {
             EXPECT_EQ(r.control("out_hostSCSIID"), "2");
             EXPECT_EQ(s.host.commandCounts()[kSetEEPConfig], 2);
             EXPECT_FALSE(r.has("rights-freed"));
         }},
        {{"OK does nothing, Cancel stores nothing",
          "answer 1\nselect out_hostSCSIID 1\npress ok\ndump\npress cancel\n",
          {MSG_START}},
         {},
         [](Scenario& s, const RunResult& r) {
             EXPECT_EQ(r.control("out_hostSCSIID"), "1");
             EXPECT_EQ(r.lastKind(), "terminate");
             EXPECT_EQ(s.host.commandCounts()[kSetEEPConfig], 0);
             // Cancel leaves the utility's extension loaded.
             EXPECT_TRUE(Contains(s.host.hostOk({"status"}), "utility-services 1"));
         }},
        // The factory record carries a board version of its own; the card's survives the load.
        {{"Default then close stores the factory settings with the card's board version",
          "answer 1\npress default\ndump\nclose\nanswer 1\n",
          {MSG_START, MSG_SUCCESS}},
         {},
         [](Scenario& s, const RunResult& r) {
             ClosedAndFreed(s, r);
             const std::string file = s.work.path() + "/factory.bin";
             s.host.hostOk({"factory", "get", file});
             SCSIUTY_CFG factory, card;
             std::memcpy(&card, s.recordBefore.data(), sizeof card);
             const std::string bytes = ReadFileBytes(file);
             ASSERT_EQ(bytes.size(), sizeof factory);
             std::memcpy(&factory, bytes.data(), sizeof factory);
             ASSERT_NE(factory.PcbVersion, card.PcbVersion);
             ASSERT_NE(factory.PcbRevision, card.PcbRevision);
             factory.PcbVersion = card.PcbVersion;
             EXPECT_TRUE(s.record() ==
                         std::string(reinterpret_cast<const char*>(&factory), sizeof factory));
             EXPECT_EQ(r.control("out_hostSCSIID"), "7");
             EXPECT_EQ(r.control("out_verPCB"), "1.20");
         },
         false,
         true},
        {{"Default then Cancel stores nothing",
          "answer 1\npress default\npress cancel\n",
          {MSG_START}},
         {},
         [](Scenario& s, const RunResult&) {
             EXPECT_EQ(s.host.commandCounts()[kGetEEPDefault], 1);
         }},
        {{"a refused Default keeps the edits",
          "answer 1\nselect out_hostSCSIID 3\npress default\nanswer 1\ndump\npress cancel\n",
          {MSG_START, MSG_DEFAULTFAIL}},
         HostDoes({"fault", "refuse-2", "on"}),
         [](Scenario&, const RunResult& r) { EXPECT_EQ(r.control("out_hostSCSIID"), "3"); }},
        {{"a script that ends while idle quits without storing",
          "answer 1\nselect out_hostSCSIID 4\n",
          {MSG_START}},
         {},
         [](Scenario&, const RunResult& r) { EXPECT_EQ(r.lastKind(), "end"); }},
    });
}

}  // namespace
