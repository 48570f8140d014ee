// Strings as UTF-16 code units, printf formats, and the system log.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/foundation/Foundation.h"
#include "tests/support/TempHost.h"

namespace {

TEST(NSStringTest, StoresUtf16CodeUnits) {
    const std::pair<const char*, std::u16string> cases[] = {
        {"Gr\xC3\xB6\xC3\x9F", u"Gr\u00F6\u00DF"},  // two-byte sequences: one unit each
        {"\xF0\x9D\x84\x9E", u"\xD834\xDD1E"},      // outside the BMP: a surrogate pair
        {"/Volumes/SC820 \xE2\x82\xAC", u"/Volumes/SC820 \u20AC"},
        // Bytes that are not UTF-8 are kept, each as U+DC80 to U+DCFF, so a name comes back
        // byte for byte and differs from the name that holds the replacement character.
        {"img\xFF.bin", u"img\xDCFF.bin"},
        {"img\xEF\xBF\xBD.bin", u"img\uFFFD.bin"},
        {"\xC3\x28", u"\xDCC3("},                                     // a sequence cut short
        {"\xC0\xAF\xED\xB2\x80", u"\xDCC0\xDCAF\xDCED\xDCB2\xDC80"},  // overlong, surrogate
        {"\xF0\x9D\x84", u"\xDCF0\xDC9D\xDC84"},                      // truncated at the end
    };
    for (const auto& [utf8, units] : cases) {
        NSString text(utf8);
        EXPECT_EQ(text.units(), units) << utf8;
        ASSERT_EQ(text.length(), units.size()) << utf8;
        for (size_t i = 0; i < units.size(); ++i) EXPECT_EQ(text.characterAtIndex(i), units[i]);
        EXPECT_EQ(text.UTF8String(), utf8);
    }
    EXPECT_EQ(NSString(static_cast<const char*>(nullptr)).length(), 0u);
}

TEST(SystemLogTest, OneEscapedLinePerEntryKeptWhole) {
    TempHost host;
    size_t before = host.logLines().size();
    NSLog("%s", "com.tavik.driver.ZolSC820 (3.1.4)\nsecond\tpart \\ 100%");
    std::string big(6000, 'k');
    NSLog("%s|%d", big.c_str(), 7);
    std::vector<std::string> lines = host.logLines();
    ASSERT_EQ(lines.size(), before + 2);
    std::string program = "foundation_tests[" + std::to_string(getpid()) + "]: ";
    ASSERT_NE(lines[before].find(program), std::string::npos) << lines[before];
    EXPECT_EQ(lines[before].substr(lines[before].find(program) + program.size()),
              "com.tavik.driver.ZolSC820 (3.1.4)\\nsecond\\tpart \\\\ 100%");
    EXPECT_EQ(lines.back().substr(lines.back().size() - big.size() - 2), big + "|7");
}

}  // namespace
