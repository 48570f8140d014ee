// The nesting bound checked before the property-list library parses a file, and kextload
// refusing a bundle whose Info.plist nests too deeply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "common/PropertyListDepth.h"
#include "tests/support/NestedPlists.h"
#include "tests/support/TempHost.h"

namespace {

using sc820::PropertyListWithinDepth;

std::string Repeated(const std::string& text, size_t times) {
    std::string all;
    for (size_t i = 0; i < times; ++i) all += text;
    return all;
}

// `levels` arrays one within the other.
std::string Arrays(size_t levels) {
    std::string text;
    for (size_t i = 0; i < levels; ++i) text += "<array>";
    for (size_t i = 0; i < levels; ++i) text += "</array>";
    return text;
}

TEST(PropertyListDepthTest, XmlCountsNestedElementsOnly) {
    const std::string head = "<?xml version=\"1.0\"?><!DOCTYPE plist SYSTEM \"x.dtd\">";
    const std::pair<std::string, bool> cases[] = {
        {nested::XmlArrays(63), true},   // 64 levels with <plist>
        {nested::XmlArrays(64), false},  // 65
        {nested::XmlArrays(100000), false},
        {head + "<plist><dict><key>k</key><dict><key>p</key><dict><key>IOClass</key>"
                "<string>c</string></dict></dict></dict></plist>",
         true},
        // Empty elements, comments, CDATA and quoted '>' add nothing and take nothing away.
        {"<plist><array>" + Repeated("<array/><array /><true/>", 100) + "</array></plist>", true},
        {"<plist><!-- " + Arrays(100) + " --></plist>", true},
        {"<plist a=\"<array>\" b='>'><string><![CDATA[</a></a><a>]]></string></plist>", true},
        // A closing tag hidden in CDATA must not let more levels in: 65 levels.
        {"<plist><array><![CDATA[</array></array>]]>" + Arrays(63) + "</array></plist>", false},
        {"<plist><!-- never ends", false},
        {"<plist><array", false},
    };
    for (const auto& [text, within] : cases)
        EXPECT_EQ(PropertyListWithinDepth(text), within) << text.substr(0, 200);
}

TEST(PropertyListDepthTest, BinaryFollowsReferencesAndCountsCopies) {
    std::string truncated = nested::BinaryArrays(3);
    truncated.erase(10, 4);  // the trailer's offsets now point past the table
    std::string badRef = nested::BinaryArrays(2);
    badRef[12] = 9;  // array 0 refers to object 9 of 2
    const std::pair<std::string, bool> cases[] = {
        {nested::BinaryArrays(1), true},
        {nested::BinaryArrays(64), true},
        {nested::BinaryArrays(65), false},
        {nested::BinaryArrays(500000), false},
        {nested::BinaryArrays(19, 2), true},   // 2^19 - 1 copies
        {nested::BinaryArrays(21, 2), false},  // 2^21 - 1 copies
        {nested::BinaryArrays(60, 2), false},  // 2^60: shallow enough, far too many
        {nested::BinaryArrays(3, 1, true), false},
        {nested::BinaryArrays(1, 1, true), false},  // an array holding itself
        {truncated, false},
        {badRef, false},
        {"bplist00", false},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(PropertyListWithinDepth(cases[i].first), cases[i].second) << "case " << i;
}

TEST(PropertyListDepthTest, KextloadRefusesADeeplyNestedInfoPlistInOneLine) {
    TempHost host;
    TempDir scratch;
    for (const std::string& plist :
         {nested::XmlArrays(1'000'000), nested::BinaryArrays(1'000'000)}) {
        const std::string bundle = scratch.path() + "/Deep.kext";
        std::filesystem::create_directories(bundle + "/Contents");
        WriteFileBytes(bundle + "/Contents/Info.plist", plist);
        std::string out;
        EXPECT_EQ(testhost::RunTool(host, "kextload", {bundle}, &out), 1);
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_THAT(out, testing::HasSubstr("nested too deeply"));
    }
}

}  // namespace
