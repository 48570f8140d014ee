#include <gtest/gtest.h>
#include <plist/plist.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/foundation/Foundation.h"
#include "tests/platform/foundation/ScopedEnv.h"
#include "tests/support/TempHost.h"

namespace {

const char* const kMessageKeys[] = {
    "MSG_APPNAME",     "MSG_WARN",         "MSG_PATHERROR", "MSG_CHECKPATH", "MSG_START",
    "MSG_SLOTERROR",   "MSG_INITIALIZE",   "MSG_ERASE",     "MSG_WRITE",     "MSG_WRITESTART",
    "MSG_WRITEFAIL",   "MSG_WRITESUCCESS", "MSG_SUCCESS",   "MSG_READFAIL",  "MSG_STOREFAIL",
    "MSG_DEFAULTFAIL", "MSG_ERASEFAIL",    "MSG_FILEERROR",
};

std::string Text(const char* key, const char* fallback = "") {
    return NSBundle::mainBundle()
        .localizedStringForKey(NSString(key), NSString(fallback), nullptr)
        .UTF8String();
}

// The built bundle, with the user's language set as the test wants it.
class BundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        NSBundle::setMainBundlePathForTesting(SC820_BUNDLE_DIR);
        useLanguage("en_US.UTF-8");
    }
    void TearDown() override { NSBundle::setMainBundlePathForTesting(""); }
    void useLanguage(const std::string& lang) {
        env_.unset("LC_ALL").unset("LC_MESSAGES").set("LANG", lang);
    }
    ScopedEnv env_;
};

TEST_F(BundleTest, PathIsTheBuiltBundle) {
    EXPECT_EQ(NSBundle::mainBundle().bundlePath().UTF8String(), SC820_BUNDLE_DIR);
}

TEST_F(BundleTest, InfoDictionaryHoldsTheUtilityVersion) {
    const NSDictionary* info = NSBundle::mainBundle().infoDictionary();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->objectForKey("CFBundleVersion")->UTF8String(), SC820_UTILITY_VERSION);
    EXPECT_EQ(info->objectForKey("CFBundleExecutable")->UTF8String(), "sc820-utility");
}

TEST_F(BundleTest, InfoDictionaryFollowsTheBundlePath) {
    TempDir elsewhere;
    NSBundle::setMainBundlePathForTesting(elsewhere.path());
    EXPECT_EQ(NSBundle::mainBundle().infoDictionary(), nullptr);
    NSBundle::setMainBundlePathForTesting(SC820_BUNDLE_DIR);
    EXPECT_NE(NSBundle::mainBundle().infoDictionary(), nullptr);
}

TEST_F(BundleTest, CarriedExtensionNamesItsVersionAndDriverClass) {
    std::string path = std::string(SC820_BUNDLE_DIR) +
                       "/Contents/Resources/ZOL_SC820_DRVR_X.kext/Contents/Info.plist";
    auto dict = NSDictionary::dictionaryWithContentsOfFile(NSString(path));
    ASSERT_TRUE(dict.has_value());
    EXPECT_EQ(dict->objectForKey("CFBundleVersion")->UTF8String(), SC820_KEXT_VERSION);
    EXPECT_EQ(dict->objectForKey("CFBundleIdentifier")->UTF8String(), "com.tavik.iokit.sc820utl");

    // The one personality names the utility driver's registry class.
    std::string bytes = ReadFileBytes(path);
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    ASSERT_NE(root, nullptr);
    plist_t personalities = plist_dict_get_item(root, "IOKitPersonalities");
    ASSERT_NE(personalities, nullptr);
    ASSERT_EQ(plist_dict_get_size(personalities), 1u);
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(personalities, &iter);
    char* name = nullptr;
    plist_t personality = nullptr;
    plist_dict_next_item(personalities, iter, &name, &personality);
    char* ioClass = nullptr;
    plist_get_string_val(plist_dict_get_item(personality, "IOClass"), &ioClass);
    ASSERT_NE(ioClass, nullptr);
    EXPECT_STREQ(ioClass, "com_tavik_iokit_sc820utl_drvr");
    free(ioClass);
    free(name);
    free(iter);
    plist_free(root);
}

TEST_F(BundleTest, PathTestProgramPrintsExactlyTenLines) {
    std::string out;
    int status = RunProgram({std::string(SC820_BUNDLE_DIR) + "/Contents/Resources/test"}, &out);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 10) << out;
}

TEST_F(BundleTest, EveryMessageHasAnEnglishText) {
    for (const char* key : kMessageKeys) {
        std::string text = Text(key);
        EXPECT_NE(text, key);
        EXPECT_FALSE(text.empty()) << key;
        EXPECT_EQ(text.find('%'), std::string::npos) << key << ": the texts are plain, no formats";
    }
    EXPECT_EQ(Text("MSG_APPNAME"), "SC820 Utility");
    // The path message is continued by the bundle path.
    EXPECT_EQ(Text("MSG_CHECKPATH").back(), ' ');
}

TEST_F(BundleTest, EveryMessageHasAGermanText) {
    useLanguage("de_DE.UTF-8");
    for (const char* key : kMessageKeys) {
        std::string text = Text(key);
        EXPECT_NE(text, key);
        EXPECT_FALSE(text.empty()) << key;
    }
}

TEST_F(BundleTest, LanguageFollowsTheLocaleAtEachLookup) {
    std::string english = Text("MSG_START");
    useLanguage("de_DE.UTF-8");
    std::string german = Text("MSG_START");
    EXPECT_NE(german, english);
    EXPECT_NE(german.find("Fortfahren"), std::string::npos) << german;
    useLanguage("fr_FR.UTF-8");  // no French table: English
    EXPECT_EQ(Text("MSG_START"), english);
    useLanguage("C.UTF-8");
    EXPECT_EQ(Text("MSG_START"), english);
    // LC_ALL outranks LANG, LC_MESSAGES outranks LANG.
    env_.set("LANG", "en_US.UTF-8").set("LC_MESSAGES", "de_DE.UTF-8");
    EXPECT_EQ(Text("MSG_START"), german);
    env_.set("LC_ALL", "en_GB.UTF-8");
    EXPECT_EQ(Text("MSG_START"), english);
}

TEST_F(BundleTest, MissingTextComesBackAsFallbackOrKey) {
    EXPECT_EQ(Text("MSG_NOSUCHKEY"), "MSG_NOSUCHKEY");
    EXPECT_EQ(Text("MSG_NOSUCHKEY", "Fallback"), "Fallback");
    EXPECT_EQ(NSBundle::mainBundle()
                  .localizedStringForKey(NSString("MSG_APPNAME"), NSString(""), "OtherTable")
                  .UTF8String(),
              "MSG_APPNAME");
}

TEST_F(BundleTest, MissingTableShowsKeys) {
    TempDir empty;
    NSBundle::setMainBundlePathForTesting(empty.path());
    EXPECT_EQ(Text("MSG_APPNAME"), "MSG_APPNAME");
    EXPECT_EQ(Text("MSG_WARN", "fallback"), "fallback");
}

TEST_F(BundleTest, UnreadableTableShowsKeys) {
    TempDir broken;
    std::filesystem::create_directories(broken.path() + "/Contents/Resources/translations");
    WriteFileBytes(broken.path() + "/Contents/Resources/translations/sc820_en.qm", "not a table");
    NSBundle::setMainBundlePathForTesting(broken.path());
    EXPECT_EQ(Text("MSG_APPNAME"), "MSG_APPNAME");
}

}  // namespace
