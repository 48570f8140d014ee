#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/Foundation.h"

namespace {

TEST(NSStringTest, StoresUtf16CodeUnits) {
    struct Case {
        const char* utf8;
        std::u16string units;
    };
    const Case cases[] = {
        {"", u""},
        {"SC820", u"SC820"},
        {"Gr\xC3\xB6\xC3\x9F"
         "e",
         u"Gr\u00F6\u00DFe"},                   // two-byte sequences: one unit each
        {"\xF0\x9D\x84\x9E", u"\xD834\xDD1E"},  // outside the BMP: a surrogate pair
        {"/Volumes/SC820 \xE2\x82\xAC", u"/Volumes/SC820 \u20AC"},
    };
    for (const Case& c : cases) {
        NSString text(c.utf8);
        EXPECT_EQ(text.units(), c.units) << c.utf8;
        EXPECT_EQ(text.length(), c.units.size()) << c.utf8;
        EXPECT_EQ(text.UTF8String(), c.utf8);
    }
}

TEST(NSStringTest, CharacterAtIndexYieldsOneCodeUnit) {
    NSString text(
        "a\xF0\x9D\x84\x9E"
        "b");
    ASSERT_EQ(text.length(), 4u);
    EXPECT_EQ(text.characterAtIndex(0), u'a');
    EXPECT_EQ(text.characterAtIndex(1), 0xD834);
    EXPECT_EQ(text.characterAtIndex(2), 0xDD1E);
    EXPECT_EQ(text.characterAtIndex(3), u'b');
}

TEST(NSStringTest, NullUtf8IsEmpty) {
    EXPECT_EQ(NSString(static_cast<const char*>(nullptr)).length(), 0u);
}

TEST(NSStringTest, FormatFollowsPrintf) {
    struct Case {
        NSString got;
        const char* want;
    };
    const Case cases[] = {
        {NSString::stringWithFormat("%02.2f", 1234 / 100.0), "12.34"},
        {NSString::stringWithFormat("%02.2f", 1 / 100.0), "0.01"},
        {NSString::stringWithFormat("%02.2f", 0.0), "0.00"},
        {NSString::stringWithFormat("%s (%d)", "com.tavik.driver.ZolSC820", 3),
         "com.tavik.driver.ZolSC820 (3)"},
        {NSString::stringWithFormat("100%%"), "100%"},
        {NSString::stringWithFormat("%s", "\xC3\xBC"), "\xC3\xBC"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got.UTF8String(), c.want);
}

TEST(NSStringTest, FormatHasNoLengthLimit) {
    std::string big(100000, 'x');
    NSString text = NSString::stringWithFormat("<%s>", big.c_str());
    EXPECT_EQ(text.length(), big.size() + 2);
    EXPECT_EQ(text.UTF8String(), "<" + big + ">");
}

TEST(NSStringTest, AppendAndContain) {
    NSString path = NSString::stringWithString(NSString("\""));
    path.appendString(NSString("/Applications/SC820 Utility"));
    path.appendString(NSString("/Contents/Resources/test\""));
    EXPECT_EQ(path.UTF8String(), "\"/Applications/SC820 Utility/Contents/Resources/test\"");
    EXPECT_TRUE(path.containsString(NSString("SC820 Utility")));
    EXPECT_FALSE(path.containsString(NSString("sc820 utility")));
    EXPECT_FALSE(path.containsString(NSString("")));  // the empty string is in nothing
}

}  // namespace
