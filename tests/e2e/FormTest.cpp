// The configuration form end to end: closing stores (and gives the rights back), Cancel and OK
// do not, Default loads the factory settings.
#include "app/Messages.h"
#include "tests/e2e/Scenario.h"

namespace {

using Form = Scenario;

// The program's last steps: the rights given back (status 0), then the end.
void ClosedAndFreed(Scenario&, const RunResult& r) {
    ASSERT_GE(r.transcript.size(), 2u);
    EXPECT_EQ(r.transcript[r.transcript.size() - 2],
              (std::vector<std::string>{"rights-freed", "0"}));
}

Check Sent(int code, int times) {
    return [=](Scenario& s, const RunResult&) { EXPECT_EQ(s.host.commandCounts()[code], times); };
}

TEST_F(Form, StoreCancelAndDefault) {
    runTable({
        // Host ID 5, parity off, target 5 wide at 10 MB/s, target 15 disconnecting.
        R("closing stores the edited form and keeps the record it replaced",
          "answer 1\nselect out_hostSCSIID 5\nset out_parity_D 1\nset out_parity_E 0\n"
          "set tag:305 1\nselect tag:105 6\nset tag:415 1\nclose\nanswer 1\n",
          {MSG_START, MSG_SUCCESS}, 0, {},
          {.record = {{4, "05"},
                      {24, "00000000"},
                      {116, "01000000"},
                      {244, "07000000"},
                      {220, "01000000"}},
           .keeps = "eeprom",
           .check = ClosedAndFreed}),
        R("a refused store keeps the window and the edit",
          "answer 1\nselect out_hostSCSIID 2\nclose\nanswer 1\ndump\nclose\nanswer 1\n"
          "press cancel\n",
          {MSG_START, MSG_STOREFAIL, MSG_STOREFAIL}, 0, HostDoes({"fault", "refuse-1", "on"}),
          {.controls = {"out_hostSCSIID=2"},
           .check =
               [](Scenario& s, const RunResult& r) {
                   EXPECT_EQ(s.host.commandCounts()[kSetEEPConfig], 2);
                   EXPECT_FALSE(r.has("rights-freed"));
               }}),
        // Cancel leaves the utility's extension loaded.
        R("OK does nothing, Cancel stores nothing",
          "answer 1\nselect out_hostSCSIID 1\npress ok\ndump\npress cancel\n", {MSG_START}, 0, {},
          {.controls = {"out_hostSCSIID=1"},
           .check =
               [](Scenario& s, const RunResult& r) {
                   Sent(kSetEEPConfig, 0)(s, r);
                   EXPECT_TRUE(Contains(s.host.hostOk({"status"}), "utility-services 1"));
               }}),
        // The factory record carries a board version of its own; the card's survives the load.
        R("Default then close stores the factory settings with the card's board version",
          "answer 1\npress default\ndump\nclose\nanswer 1\n", {MSG_START, MSG_SUCCESS}, 0, {},
          {.controls = {"out_hostSCSIID=7", "out_verPCB=1.20"},
           .check =
               [](Scenario& s, const RunResult& r) {
                   ClosedAndFreed(s, r);
                   s.host.hostOk({"factory", "get", s.home("factory.bin")});
                   SCSIUTY_CFG factory, card;
                   std::memcpy(&card, s.recordBefore.data(), sizeof card);
                   ASSERT_EQ(ReadFileBytes(s.home("factory.bin")).size(), sizeof factory);
                   std::memcpy(&factory, ReadFileBytes(s.home("factory.bin")).data(),
                               sizeof factory);
                   ASSERT_NE(factory.PcbVersion, card.PcbVersion);
                   ASSERT_NE(factory.PcbRevision, card.PcbRevision);
                   factory.PcbVersion = card.PcbVersion;
                   s.recordBefore.assign(reinterpret_cast<const char*>(&factory), sizeof factory);
               }}),
        R("Default then Cancel stores nothing", "answer 1\npress default\npress cancel\n",
          {MSG_START}, 0, {}, {.check = Sent(kGetEEPDefault, 1)}),
        R("a refused Default keeps the edits",
          "answer 1\nselect out_hostSCSIID 3\npress default\nanswer 1\ndump\npress cancel\n",
          {MSG_START, MSG_DEFAULTFAIL}, 0, HostDoes({"fault", "refuse-2", "on"}),
          {.controls = {"out_hostSCSIID=3"}}),
        R("a script that ends while idle quits without storing",
          "answer 1\nselect out_hostSCSIID 4\n", {MSG_START}, 0, {}, {.last = "end"}),
    });
}

}  // namespace
