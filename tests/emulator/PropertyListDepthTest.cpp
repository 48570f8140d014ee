// The nesting bound checked before the property-list library parses a file (kextload refusing a
// bundle whose Info.plist nests too deeply is a row of HostFilesTest's hostile files).
#include <gtest/gtest.h>

#include "common/PropertyListDepth.h"
#include "tests/support/NestedPlists.h"

namespace {

using nested::BinaryArrays;
using nested::XmlArrays;

std::string Repeated(const std::string& text, size_t times) {
    std::string all;
    while (times-- > 0) all += text;
    return all;
}

TEST(PropertyListDepthTest, XmlCountsNestedElementsAndBinaryFollowsReferencesAndCountsCopies) {
    std::string truncated = BinaryArrays(3), badRef = BinaryArrays(2);
    truncated.erase(10, 4);  // the trailer's offsets now point past the table
    badRef[12] = 9;          // array 0 refers to object 9 of 2
    auto arrays = [](size_t n) { return Repeated("<array>", n) + Repeated("</array>", n); };
    const std::pair<std::string, bool> cases[] = {
        {XmlArrays(63), true},  // 64 levels with <plist>
        {XmlArrays(64), false},
        {XmlArrays(100000), false},
        {"<?xml version=\"1.0\"?><!DOCTYPE plist SYSTEM \"x.dtd\"><plist><dict><key>k</key><dict>"
         "<key>IOClass</key><string>c</string></dict></dict></plist>",
         true},
        // Empty elements, comments, CDATA and quoted '>' add nothing and take nothing away.
        {"<plist><array>" + Repeated("<array/><array /><true/>", 100) + "</array></plist>", true},
        {"<plist><!-- " + arrays(100) + " --></plist>", true},
        {"<plist a=\"<array>\" b='>'><string><![CDATA[</a></a><a>]]></string></plist>", true},
        // A closing tag hidden in CDATA must not let more levels in: 65 levels.
        {"<plist><array><![CDATA[</array></array>]]>" + arrays(63) + "</array></plist>", false},
        {"<plist><!-- never ends", false},
        {"<plist><array", false},
        {BinaryArrays(1), true},
        {BinaryArrays(64), true},
        {BinaryArrays(65), false},
        {BinaryArrays(500000), false},
        {BinaryArrays(19, 2), true},   // 2^19 - 1 copies
        {BinaryArrays(21, 2), false},  // 2^21 - 1 copies
        {BinaryArrays(60, 2), false},  // 2^60: shallow enough, far too many
        {BinaryArrays(3, 1, true), false},
        {BinaryArrays(1, 1, true), false},  // an array holding itself
        {truncated, false},
        {badRef, false},
        {"bplist00", false},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(sc820::PropertyListWithinDepth(cases[i].first), cases[i].second) << "case " << i;
}

}  // namespace
