// The terminal backend as a person sees it: the real program in a pseudo-terminal, keys typed,
// the screen read back through a terminal emulator.
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/TempHost.h"
#include "tests/support/TerminalProgram.h"

namespace {

class TerminalScreen : public ::testing::Test {
protected:
    std::unique_ptr<TerminalProgram> start(int rows = 24, int columns = 80,
                                           const std::vector<std::string>& extraEnv = {}) {
        std::vector<std::string> env = {"SC820_HOST_ROOT=" + host.root(), "HOME=" + work.path(),
                                        "LANG=en_US.UTF-8", "LC_ALL=C.UTF-8"};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        return std::make_unique<TerminalProgram>(
            std::vector<std::string>{std::string(SC820_BUNDLE_DIR) + "/Contents/bin/sc820-utility",
                                     "--terminal"},
            env, rows, columns);
    }

    TempHost host;
    TempDir work;
};

TEST_F(TerminalScreen, Debug) {
    auto program = start();
    program->waitUntil([] { return false; }, 3000);
    std::printf("%s\n", program->screen().c_str());
    program->send("\r");
    program->waitUntil([] { return false; }, 3000);
    std::printf("%s\n", program->screen().c_str());
    program->send("\033[21~");
    std::printf("exit %d\n", program->waitForExit());
    std::printf("%s\n", program->screen().c_str());
}

}  // namespace
