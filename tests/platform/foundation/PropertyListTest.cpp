#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/foundation/Foundation.h"
#include "tests/support/TempHost.h"

namespace {

const char kXmlHead[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";

std::string XmlPlist(const std::string& body) {
    return kXmlHead + body + "\n</plist>\n";
}

// The same dictionary in the binary form, made with the library that reads it.
std::string BinaryPlist() {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "CFBundleVersion", plist_new_string("2.1.0"));
    plist_dict_set_item(dict, "Count", plist_new_uint(42));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict, &bytes, &length);
    std::string out(bytes, length);
    std::free(bytes);
    plist_free(dict);
    return out;
}

class PropertyListTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& bytes) {
        std::string path = dir_.path() + "/" + name;
        WriteFileBytes(path, bytes);
        return path;
    }
    TempDir dir_;
};

TEST_F(PropertyListTest, ReadsXmlDictionaryValuesAsText) {
    std::string path = write("Info.plist", XmlPlist(R"(<dict>
  <key>CFBundleVersion</key><string>1.0.2</string>
  <key>CFBundleName</key><string>SC820 Utility</string>
  <key>Build</key><integer>17</integer>
  <key>Negative</key><integer>-5</integer>
  <key>Ratio</key><real>1.5</real>
  <key>Flag</key><true/>
  <key>IOKitPersonalities</key><dict><key>a</key><string>b</string></dict>
  <key>List</key><array><string>x</string></array>
</dict>)"));
    auto dict = NSDictionary::dictionaryWithContentsOfFile(NSString(path));
    ASSERT_TRUE(dict.has_value());
    struct Case {
        const char* key;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"CFBundleVersion", "1.0.2"},
        {"CFBundleName", "SC820 Utility"},
        {"Build", "17"},
        {"Negative", "-5"},
        {"Ratio", "1.5"},
        {"Flag", std::nullopt},
        {"IOKitPersonalities", std::nullopt},
        {"List", std::nullopt},
        {"Missing", std::nullopt},
    };
    for (const Case& c : cases) {
        auto value = dict->objectForKey(c.key);
        ASSERT_EQ(value.has_value(), c.text.has_value()) << c.key;
        if (value) {
            EXPECT_EQ(value->UTF8String(), *c.text) << c.key;
        }
    }
    // Values without text are still present in the dictionary.
    EXPECT_EQ(dict->entries.count("IOKitPersonalities"), 1u);
    EXPECT_EQ(dict->entries.size(), 8u);
}

TEST_F(PropertyListTest, ReadsBinaryDictionary) {
    auto dict =
        NSDictionary::dictionaryWithContentsOfFile(NSString(write("bin.plist", BinaryPlist())));
    ASSERT_TRUE(dict.has_value());
    EXPECT_EQ(dict->objectForKey("CFBundleVersion")->UTF8String(), "2.1.0");
    EXPECT_EQ(dict->objectForKey("Count")->UTF8String(), "42");
}

TEST_F(PropertyListTest, NothingWhenNotADictionary) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"text", "CFBundleVersion = 1.0.2\n"},
        {"truncated", XmlPlist("<dict><key>CFBundleVersion</key><string>1.0").substr(0, 80)},
        {"unclosed", XmlPlist("<dict><key>CFBundleVersion</key><string>1.0.2</string>")},
        {"array", XmlPlist("<array><string>1.0.2</string></array>")},
        {"string", XmlPlist("<string>1.0.2</string>")},
        {"binary-garbage", std::string("bplist00\xff\xff\xff\xff\x00\x01", 14)},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(NSDictionary::dictionaryWithContentsOfFile(NSString(write(c.name, c.bytes))))
            << c.name;
    }
}

TEST_F(PropertyListTest, NothingWhenMissingOrNotAFile) {
    EXPECT_FALSE(
        NSDictionary::dictionaryWithContentsOfFile(NSString(dir_.path() + "/absent.plist")));
    EXPECT_FALSE(NSDictionary::dictionaryWithContentsOfFile(NSString(dir_.path())));
    std::string fifo = dir_.path() + "/fifo.plist";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(NSDictionary::dictionaryWithContentsOfFile(NSString(fifo)));  // and returns
}

TEST_F(PropertyListTest, EmptyDictionaryIsADictionary) {
    auto dict =
        NSDictionary::dictionaryWithContentsOfFile(NSString(write("e", XmlPlist("<dict/>"))));
    ASSERT_TRUE(dict.has_value());
    EXPECT_TRUE(dict->entries.empty());
    EXPECT_FALSE(dict->objectForKey("CFBundleVersion"));
}

}  // namespace
