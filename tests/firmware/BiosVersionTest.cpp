// The version reading against the emulated host: status tools placed in the host root print
// the listings, and the host's authorization service starts them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/SC820Controller.h"
#include "driverif/DriverNames.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

const std::string kDriver = kSC820DriverBundleID;
constexpr char kKmodstat[] = "/usr/sbin/kmodstat", kKextstat[] = "/usr/sbin/kextstat";
const std::string kHeader =
    "Index Refs Address    Size       Wired      Name (Version) <Linked Against>\n";

std::string Line(const std::string& identifier, const std::string& version) {
    return "   42    0 0x5e000    0x3000     0x2000     " + identifier + " (" + version +
           ") <7 5 4 3>\n";
}

class BiosVersion : public ::testing::Test {
protected:
    void SetUp() override { controller.acquireRights(); }
    std::string read(const std::string& search = kDriver + " (") {
        return controller.getBiosVersion(search.c_str()).UTF8String();
    }
    void print(const char* tool, const std::string& listing) {
        hosttools::InstallPrintingTool(host.root(), tool, listing);
    }
    void TearDown() override { EXPECT_TRUE(backend.alerts.empty()); }

    TempHost host;
    RecordingBackend backend;
    SC820Controller controller;
};

TEST_F(BiosVersion, GivesTheVersionOfTheFirstMatchingLine) {
    const std::string other = Line("com.example.driver.Other", "3.4");
    const std::pair<std::string, std::string> cases[] = {
        {kHeader + other + Line(kDriver, "1.0") + Line(kDriver, "2.0"), "1.0"},
        {kHeader + Line(kDriver + "X", "9.9") + Line(kDriver, "1.1"), "1.1"},
        {kHeader + Line(kDriver + "X", "9.9"), "0"},
        {Line("com.tavik.driver.ZOLSC820", "1.0"), "0"},  // another case
        {Line(kDriver, ""), ""},
        {kHeader + other, "0"},
        {kDriver + " (" + std::string(300, 'v') + ")\n", std::string(255, 'v')},
        {kDriver + " (1.2.3 <4 5>\nnext)\n", "1.2.3 <4 5>"},  // no ')'
        {kDriver + " (" + std::string(600, 'w') + "\n", std::string(255, 'w')},
        {"   1 " + kDriver + " (5.6)", "5.6"},  // no final newline
        {std::string(600, 'a') + "\n" + std::string(1500, 'b') + "\n" + Line(kDriver, "3.1"),
         "3.1"},
        // A piece holds at most 511 characters: the tail of a long line is a piece of its own,
        // and a name split between two pieces is in neither.
        {std::string(520, 'y') + " " + kDriver + " (8.1)\n", "8.1"},
        {std::string(510 - kDriver.size(), 'z') + kDriver + " (8.2)\n", "0"},
        {std::string("\0", 1) + Line(kDriver, "6.6") + Line(kDriver, "6.7"), "6.7"},
        {kDriver + " (4.4)" + std::string("\0tail (9)", 9) + "\n", "4.4"},
        // The version is taken after the line's first "(", wherever the name stands.
        {"   7 (x) " + kDriver + " (3.1.4)\n", "x"},
        {"(a)(b) " + kDriver + " (3.1.4)\n", "a"},
    };
    for (const auto& [listing, version] : cases) {
        print(kKmodstat, listing);
        EXPECT_EQ(read(), version) << listing.substr(0, 80);
    }
    EXPECT_EQ(read(""), "0");  // an empty search text names nothing
    std::string noise;         // bytes outside ASCII never break the reading
    for (int b = 1; b < 256; ++b) noise += static_cast<char>(b);
    print(kKmodstat, noise + "\n" + kDriver + " (\x80\xff\xfe 1)\n");
    EXPECT_EQ(read(), "\x80\xff\xfe 1");
}

// The rest of a long listing is neither read nor logged, and does not hold up the reading.
TEST_F(BiosVersion, LogsEveryPieceUpToTheMatchAndTheVersionThenStopsReading) {
    hosttools::InstallTool(host.root(), kKmodstat,
                           "printf '%s' '" + kHeader + Line(kDriver, "2.2") + "'; seq 2000000");
    const size_t from = host.logLines().size();
    EXPECT_EQ(read(), "2.2");
    EXPECT_EQ(hosttools::LogTexts(host, from),
              (std::vector<std::string>{kHeader, Line(kDriver, "2.2"), "2.2"}));
}

TEST_F(BiosVersion, KmodstatIsPreferredKextstatRunsOnlyWhenItIsMissing) {
    const std::string marker = host.root() + "/kextstat-ran";
    hosttools::InstallTool(host.root(), kKextstat, "touch '" + marker + "'");
    print(kKmodstat, Line(kDriver, "1.5"));
    EXPECT_EQ(read(), "1.5");
    hosttools::InstallTool(host.root(), kKmodstat, "exit 1");  // prints nothing
    EXPECT_EQ(read(), "0");
    EXPECT_FALSE(std::filesystem::exists(marker));
    hosttools::RemoveTool(host.root(), kKmodstat);
    print(kKextstat, Line(kDriver, "0.9"));
    EXPECT_EQ(read(), "0.9");
    hosttools::RemoveTool(host.root(), kKextstat);
    const size_t from = host.logLines().size();
    EXPECT_EQ(read(), "0");  // neither tool
    EXPECT_TRUE(hosttools::LogTexts(host, from).empty());
}

}  // namespace
