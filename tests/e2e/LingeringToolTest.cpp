// A status tool that lists the driver and then keeps running does not hold start-up: the
// utility stops it after a short grace period, says so in the system log, and goes on.
#include <sys/stat.h>

#include <algorithm>

#include "app/Messages.h"
#include "tests/e2e/Scenario.h"

namespace {

using LingeringTool = Scenario;

TEST_F(LingeringTool, AStatusToolThatKeepsRunningIsStoppedAndStartUpGoesOn) {
    const std::string tool = host.root() + "/usr/sbin/kmodstat";
    WriteFileBytes(tool,
                   "#!/bin/sh\n"
                   "echo 'Index Refs Address    Size       Wired      Name (Version)'\n"
                   "echo '   12    0 0x0        0x0        0x0        "
                   "com.tavik.driver.ZolSC820 (7.7.7)'\n"
                   "exec sleep 60\n");
    chmod(tool.c_str(), 0755);
    const RunResult r = run("answer 1\ndump\npress cancel\n");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.alertMessages(), (std::vector<std::string>{text(MSG_START)}));
    EXPECT_NE(r.control("out_hostSCSIID"), "<none>");
    const std::vector<std::string> log = host.logLines();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) {
                                return line.find("/usr/sbin/kmodstat (pid ") != std::string::npos &&
                                       line.find("stopped with SIGTERM") != std::string::npos;
                            }),
              1)
        << r.output;
}

}  // namespace
