// A script line the automation cannot read ends the run with an `error` line and status 3,
// before the program touches the host.
#include "tests/e2e/Scenario.h"

namespace {

using namespace std::string_literals;

using ScriptLines = Scenario;

TEST_F(ScriptLines, OddCharactersEndTheRunWithAnErrorLine) {
    for (const std::string& line : {"\v"s, "\f"s, "answer\v1"s, "answer 1\0"s, "\0"s}) {
        SCOPED_TRACE(testing::PrintToString(line));
        const RunResult r = run("answer 1\n" + line + "\n");
        EXPECT_EQ(r.exitCode, 3) << r.output;
        ASSERT_EQ(r.transcript.size(), 1u) << r.output;
        EXPECT_EQ(r.transcript[0].fields[0], "error");
        EXPECT_NE(r.transcript[0].fields.at(1).find("line 2"), std::string::npos);
    }
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{0, 0, 0, 0, 0, 0}));
}

}  // namespace
