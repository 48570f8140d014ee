// The version reading against the emulated host: status tools placed in the host root print
// the listings, and the host's authorization service starts them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/SC820Controller.h"
#include "card/DriverNames.h"
#include "tests/driverctl/HostTools.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

const std::string kSearchText = std::string(kSC820DriverBundleID) + " (";
constexpr const char kKmodstat[] = "/usr/sbin/kmodstat";
constexpr const char kKextstat[] = "/usr/sbin/kextstat";

std::string ListingLine(const std::string& identifier, const std::string& version) {
    return "   42    0 0x5e000    0x3000     0x2000     " + identifier + " (" + version +
           ") <7 5 4 3>\n";
}

const std::string kHeader =
    "Index Refs Address    Size       Wired      Name (Version) <Linked Against>\n";
const std::string kOtherDriver = ListingLine("com.example.driver.Other", "3.4");

class BiosVersionTest : public ::testing::Test {
protected:
    void SetUp() override { controller.acquireRights(); }
    std::string read(const std::string& searchText = kSearchText) {
        logStart = host.logLines().size();
        return controller.getBiosVersion(searchText.c_str()).UTF8String();
    }
    std::vector<std::string> newLogTexts() const {
        std::vector<std::string> texts = hosttools::LogTexts(host);
        texts.erase(texts.begin(), texts.begin() + static_cast<long>(logStart));
        return texts;
    }
    std::string marker() const { return host.root() + "/kextstat-ran"; }
    void replaceKextstatByMarker() {
        hosttools::InstallTool(host.root(), kKextstat, "touch '" + marker() + "'");
    }

    TempHost host;
    RecordingBackend backend;
    SC820Controller controller;
    size_t logStart = 0;
};

struct ListingCase {
    const char* name;
    std::string listing;
    std::string expected;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ListingCase& c, std::ostream* os) {
    *os << c.name;
}

class ListingTable : public BiosVersionTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(ListingTable, GivesTheVersionOfTheFirstMatchingLine) {
    hosttools::InstallPrintingTool(host.root(), kKmodstat, GetParam().listing);
    EXPECT_EQ(read(), GetParam().expected);
    EXPECT_TRUE(backend.alerts.empty());
}

const std::string kDriver = kSC820DriverBundleID;

INSTANTIATE_TEST_SUITE_P(
    Listings, ListingTable,
    ::testing::Values(
        ListingCase{"Normal", kHeader + kOtherDriver + ListingLine(kDriver, "1.2.3"), "1.2.3"},
        ListingCase{"FirstMatchCounts",
                    kHeader + ListingLine(kDriver, "1.0") + ListingLine(kDriver, "2.0"), "1.0"},
        ListingCase{"LongerIdentifierDoesNotMatch",
                    kHeader + ListingLine(kDriver + "X", "9.9") + ListingLine(kDriver, "1.1"),
                    "1.1"},
        ListingCase{"OnlyLongerIdentifier", kHeader + ListingLine(kDriver + "X", "9.9"), "0"},
        ListingCase{"OtherCase", ListingLine("com.tavik.driver.ZOLSC820", "1.0"), "0"},
        ListingCase{"EmptyParentheses", ListingLine(kDriver, ""), ""},
        ListingCase{"DriverNotListed", kHeader + kOtherDriver, "0"},
        ListingCase{"EmptyListing", "", "0"},
        ListingCase{"FirstParenthesisOfTheLine", "note (x) " + kDriver + " (1.0)\n", "x"},
        ListingCase{"NoFinalNewline", "   1 " + kDriver + " (5.6)", "5.6"},
        ListingCase{"MoreThan255CharactersBetween", kDriver + " (" + std::string(300, 'v') + ")\n",
                    std::string(255, 'v')},
        ListingCase{"Exactly255CharactersBetween", kDriver + " (" + std::string(255, 'v') + ")\n",
                    std::string(255, 'v')},
        ListingCase{"NoClosingParenthesisTakesTheRestOfTheLine", kDriver + " (1.2.3 <4 5>\nnext)\n",
                    "1.2.3 <4 5>"},
        ListingCase{"NoClosingParenthesisNoNewline", kDriver + " (7.7", "7.7"},
        ListingCase{"NoClosingParenthesisLongLine", kDriver + " (" + std::string(600, 'w') + "\n",
                    std::string(255, 'w')},
        ListingCase{"LinesLongerThanAPieceBeforeTheMatch",
                    std::string(600, 'a') + "\n" + std::string(1500, 'b') + "\n" +
                        ListingLine(kDriver, "3.1"),
                    "3.1"},
        // A piece holds at most 511 characters: the tail of a long line is a piece of its own.
        ListingCase{"MatchInTheTailOfALongLine", std::string(520, 'y') + " " + kDriver + " (8.1)\n",
                    "8.1"},
        ListingCase{"Utf8Version", ListingLine(kDriver, "1.0-\xce\xb2"), "1.0-\xce\xb2"},
        ListingCase{
            "NulByteBeforeTheName",
            std::string("\0", 1) + ListingLine(kDriver, "6.6") + ListingLine(kDriver, "6.7"),
            "6.7"},
        ListingCase{"NulByteAfterTheVersion",
                    kDriver + " (4.4)" + std::string("\0tail (9)", 9) + "\n", "4.4"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(BiosVersionTest, BytesOutsideAsciiNeverBreakTheReading) {
    std::string noise;
    for (int b = 1; b < 256; ++b) noise += static_cast<char>(b);
    hosttools::InstallPrintingTool(host.root(), kKmodstat,
                                   noise + "\n" + kDriver + " (\x80\xff\xfe 1)\n");
    const std::string version = read();
    EXPECT_FALSE(version.empty());
    EXPECT_NE(version, "0");
    EXPECT_EQ(version.substr(version.size() - 2), " 1");
}

TEST_F(BiosVersionTest, EmptySearchTextNeverMatches) {
    hosttools::InstallPrintingTool(host.root(), kKmodstat, ListingLine(kDriver, "1.0"));
    EXPECT_EQ(read(""), "0");
}

TEST_F(BiosVersionTest, LogsEveryPieceUpToTheMatchAndTheVersion) {
    hosttools::InstallPrintingTool(host.root(), kKmodstat,
                                   kHeader + ListingLine(kDriver, "1.2") + kOtherDriver);
    EXPECT_EQ(read(), "1.2");
    EXPECT_EQ(newLogTexts(),
              (std::vector<std::string>{kHeader, ListingLine(kDriver, "1.2"), "1.2"}));
}

TEST_F(BiosVersionTest, StopsReadingAtTheMatch) {
    // The rest of a long listing is neither read nor logged, and the tool does not hold up the
    // reading once its pipe is closed.
    hosttools::InstallTool(host.root(), kKmodstat,
                           "printf '%s' '" + ListingLine(kDriver, "2.2") + "'; seq 2000000");
    EXPECT_EQ(read(), "2.2");
    EXPECT_EQ(newLogTexts().size(), 2u);
}

TEST_F(BiosVersionTest, KmodstatPresentMeansKextstatNeverRuns) {
    hosttools::InstallPrintingTool(host.root(), kKmodstat, ListingLine(kDriver, "1.5"));
    replaceKextstatByMarker();
    EXPECT_EQ(read(), "1.5");
    EXPECT_FALSE(std::filesystem::exists(marker()));
}

TEST_F(BiosVersionTest, KmodstatThatPrintsNothingStillKeepsKextstatFromRunning) {
    hosttools::InstallTool(host.root(), kKmodstat, "exit 1");
    replaceKextstatByMarker();
    EXPECT_EQ(read(), "0");
    EXPECT_FALSE(std::filesystem::exists(marker()));
}

TEST_F(BiosVersionTest, KextstatRunsWhenKmodstatIsMissing) {
    hosttools::RemoveTool(host.root(), kKmodstat);
    hosttools::InstallPrintingTool(host.root(), kKextstat, ListingLine(kDriver, "0.9"));
    EXPECT_EQ(read(), "0.9");
}

TEST_F(BiosVersionTest, NeitherToolGivesZero) {
    hosttools::RemoveTool(host.root(), kKmodstat);
    hosttools::RemoveTool(host.root(), kKextstat);
    EXPECT_EQ(read(), "0");
    EXPECT_TRUE(newLogTexts().empty());
    EXPECT_TRUE(backend.alerts.empty());
}

TEST_F(BiosVersionTest, DefaultHostGivesTheNormalDriversVersion) {
    const std::string status = host.hostOk({"status"});
    const std::string version = read();
    EXPECT_NE(version, "0");
    EXPECT_NE(status.find("extension " + kDriver + " (" + version + ")\n"), std::string::npos)
        << status;
}

class RefusedAuthorization : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusedAuthorization, GivesZero) {
    TempHost host;
    RecordingBackend backend;
    host.hostOk({"auth", GetParam()});
    hosttools::InstallPrintingTool(host.root(), kKmodstat, ListingLine(kDriver, "1.0"));
    SC820Controller controller;
    controller.acquireRights();
    EXPECT_EQ(controller.getBiosVersion(kSearchText.c_str()).UTF8String(), "0");
    EXPECT_TRUE(backend.alerts.empty());
}

INSTANTIATE_TEST_SUITE_P(Policies, RefusedAuthorization, ::testing::Values("deny", "cancel"));

}  // namespace
