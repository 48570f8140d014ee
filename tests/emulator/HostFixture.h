// A temporary host with scratch files, for tables of sc820-host commands: "@NAME" in a
// command's words is the scratch file NAME.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "emulator/card/UtilityDriver.h"
#include "tests/support/TempHost.h"

using Words = std::vector<std::string>;

class HostFixture : public testing::Test {
protected:
    // "@utility" names the utility's extension.
    HostFixture() {
        std::filesystem::create_directory_symlink(SC820_BUNDLE_DIR
                                                  "/Contents/Resources/ZOL_SC820_DRVR_X.kext",
                                                  scratch.path() + "/utility");
    }
    std::string db(const std::string& name = "") const {
        return host.root() + "/var/db/sc820" + (name.empty() ? "" : "/" + name);
    }
    std::string put(const std::string& name, const std::string& bytes) {
        std::filesystem::create_directories(
            std::filesystem::path(scratch.path() + "/" + name).parent_path());
        WriteFileBytes(scratch.path() + "/" + name, bytes);
        return scratch.path() + "/" + name;
    }
    // Every file of a folder and its bytes.
    static std::map<std::string, std::string> Files(const std::string& folder) {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
        return files;
    }
    // Runs sc820-host on the host (a first word "/..." is that tool of the host), expecting
    // `status` and `says` in its output; a failure says so in one line.
    std::string run(const std::string& command, int status, const std::string& says,
                    const Words& env = {}) {
        Words argv;
        std::istringstream in(command);
        for (std::string w; in >> w;)
            argv.push_back(w[0] == '@' ? scratch.path() + "/" + w.substr(1) : w);
        if (!argv.empty() && argv[0][0] == '/') {
            argv[0] = host.root() + argv[0];
        } else {
            argv.insert(argv.begin(), {SC820_HOST_BINARY, "--root", host.root()});
        }
        std::string out;
        EXPECT_EQ(RunProgram(argv, &out, env), status) << command << ": " << out;
        EXPECT_NE(out.find(says), std::string::npos) << command << ": " << out;
        if (status == 1) {
            EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        }
        return out;
    }
    // Makes the host anew with the utility's driver serving the card.
    void serve() {
        host.hostOk({"init", "--force"});
        host.swapDrivers();
        service = static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
    }
    IOReturn call(emu::CallForm form, int selector, void* structure, uint32_t size,
                  std::string* problem = nullptr, uint32_t scalars = 0, uint32_t to = 0) {
        emu::UserClientCall c{form, selector, scalars, static_cast<uint8_t*>(structure), size, 0};
        return emu::CallUtilityDriver(host.root(), to ? to : service, c, problem);
    }
    TempHost host;
    TempDir scratch;
    uint32_t service = 0;
};
