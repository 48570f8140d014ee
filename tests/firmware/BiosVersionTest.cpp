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
const std::string kSearchText = kDriver + " (";
constexpr const char kKmodstat[] = "/usr/sbin/kmodstat";
constexpr const char kKextstat[] = "/usr/sbin/kextstat";
const std::string kHeader =
    "Index Refs Address    Size       Wired      Name (Version) <Linked Against>\n";

std::string Line(const std::string& identifier, const std::string& version) {
    return "   42    0 0x5e000    0x3000     0x2000     " + identifier + " (" + version +
           ") <7 5 4 3>\n";
}

class BiosVersion : public ::testing::Test {
protected:
    void SetUp() override { controller.acquireRights(); }
    std::string read() { return controller.getBiosVersion(kSearchText.c_str()).UTF8String(); }

    TempHost host;
    RecordingBackend backend;
    SC820Controller controller;
};

TEST_F(BiosVersion, GivesTheVersionOfTheFirstMatchingLine) {
    const std::string other = Line("com.example.driver.Other", "3.4");
    const struct {
        const char* name;
        std::string listing, version;
    } cases[] = {
        {"first match", kHeader + other + Line(kDriver, "1.0") + Line(kDriver, "2.0"), "1.0"},
        {"longer identifier", kHeader + Line(kDriver + "X", "9.9") + Line(kDriver, "1.1"), "1.1"},
        {"only longer identifier", kHeader + Line(kDriver + "X", "9.9"), "0"},
        {"other case", Line("com.tavik.driver.ZOLSC820", "1.0"), "0"},
        {"empty parentheses", Line(kDriver, ""), ""},
        {"not listed", kHeader + other, "0"},
        {"over 255", kDriver + " (" + std::string(300, 'v') + ")\n", std::string(255, 'v')},
        {"no ')'", kDriver + " (1.2.3 <4 5>\nnext)\n", "1.2.3 <4 5>"},
        {"no ')' over 255", kDriver + " (" + std::string(600, 'w') + "\n", std::string(255, 'w')},
        {"no final newline", "   1 " + kDriver + " (5.6)", "5.6"},
        {"long lines before",
         std::string(600, 'a') + "\n" + std::string(1500, 'b') + "\n" + Line(kDriver, "3.1"),
         "3.1"},
        // A piece holds at most 511 characters: the tail of a long line is a piece of its own.
        {"match in a tail", std::string(520, 'y') + " " + kDriver + " (8.1)\n", "8.1"},
        {"NUL before", std::string("\0", 1) + Line(kDriver, "6.6") + Line(kDriver, "6.7"), "6.7"},
        {"NUL after", kDriver + " (4.4)" + std::string("\0tail (9)", 9) + "\n", "4.4"},
        // The version is taken after the line's first "(", wherever the name stands.
        {"'(' before the name", "   7 (x) " + kDriver + " (3.1.4)\n", "x"},
        {"'(' and ')' before the name", "(a)(b) " + kDriver + " (3.1.4)\n", "a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hosttools::InstallPrintingTool(host.root(), kKmodstat, c.listing);
        EXPECT_EQ(read(), c.version);
    }
    EXPECT_TRUE(backend.alerts.empty());
}

TEST_F(BiosVersion, AnEmptySearchTextNamesNothing) {
    hosttools::InstallPrintingTool(host.root(), kKmodstat, kHeader + Line(kDriver, "1.0"));
    EXPECT_EQ(controller.getBiosVersion("").UTF8String(), "0");
}

TEST_F(BiosVersion, BytesOutsideAsciiNeverBreakTheReading) {
    std::string noise;
    for (int b = 1; b < 256; ++b) noise += static_cast<char>(b);
    hosttools::InstallPrintingTool(host.root(), kKmodstat,
                                   noise + "\n" + kDriver + " (\x80\xff\xfe 1)\n");
    const std::string version = read();
    EXPECT_FALSE(version.empty());
    EXPECT_NE(version, "0");
    EXPECT_EQ(version.substr(version.size() - 2), " 1");
}

TEST_F(BiosVersion, LogsEveryPieceUpToTheMatchAndTheVersionThenStopsReading) {
    // The rest of a long listing is neither read nor logged, and does not hold up the reading.
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
    hosttools::InstallPrintingTool(host.root(), kKmodstat, Line(kDriver, "1.5"));
    EXPECT_EQ(read(), "1.5");
    hosttools::InstallTool(host.root(), kKmodstat, "exit 1");  // prints nothing
    EXPECT_EQ(read(), "0");
    EXPECT_FALSE(std::filesystem::exists(marker));

    hosttools::RemoveTool(host.root(), kKmodstat);
    hosttools::InstallPrintingTool(host.root(), kKextstat, Line(kDriver, "0.9"));
    EXPECT_EQ(read(), "0.9");
    hosttools::RemoveTool(host.root(), kKextstat);
    const size_t from = host.logLines().size();
    EXPECT_EQ(read(), "0");  // neither tool
    EXPECT_TRUE(hosttools::LogTexts(host, from).empty());
    EXPECT_TRUE(backend.alerts.empty());
}

TEST(BiosVersionRefused, RefusedRightsGiveZero) {
    for (const char* policy : {"deny", "cancel"}) {
        SCOPED_TRACE(policy);
        TempHost host;
        RecordingBackend backend;
        host.hostOk({"auth", policy});
        hosttools::InstallPrintingTool(host.root(), kKmodstat, Line(kDriver, "1.0"));
        SC820Controller controller;
        controller.acquireRights();
        EXPECT_EQ(controller.getBiosVersion(kSearchText.c_str()).UTF8String(), "0");
        EXPECT_TRUE(backend.alerts.empty());
    }
}

}  // namespace
