// The bundle's string tables, and the message catalogue the utility shows from them.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/Messages.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

std::string Text(const char* key, const char* fallback = "") {
    return NSBundle::mainBundle()
        .localizedStringForKey(NSString(key), NSString(fallback), nullptr)
        .UTF8String();
}

class BundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
            saved_.emplace_back(name, std::getenv(name) ? std::getenv(name) : "");
            unsetenv(name);
        }
        setenv("LANG", "en_US.UTF-8", 1);
        UseMainBundleAt(SC820_BUNDLE_DIR);
    }
    void TearDown() override {
        UseMainBundleAt("");
        for (const auto& [n, v] : saved_)
            v.empty() ? unsetenv(n.c_str()) : setenv(n.c_str(), v.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::string>> saved_;
    RecordingBackend backend_;
};

// The language is chosen at each lookup; every message has its text in both; a message is
// shown as it is, never as a format.
TEST_F(BundleTest, EveryMessageHasAnEnglishAndAGermanTextChosenAtEachLookup) {
    for (const char* lang : {"de_DE.UTF-8", "en_US.UTF-8"}) {
        setenv("LANG", lang, 1);
        ShowAlert(MSG_ERASE, AlertButtons::okCancel);
        for (const char* key :
             {"MSG_APPNAME", "MSG_WARN", "MSG_PATHERROR", "MSG_CHECKPATH", "MSG_START",
              "MSG_SLOTERROR", "MSG_INITIALIZE", "MSG_ERASE", "MSG_WRITE", "MSG_WRITESTART",
              "MSG_WRITEFAIL", "MSG_WRITESUCCESS", "MSG_SUCCESS", "MSG_READFAIL", "MSG_STOREFAIL",
              "MSG_DEFAULTFAIL", "MSG_ERASEFAIL", "MSG_FILEERROR"}) {
            EXPECT_FALSE(Text(key) == key || Text(key).empty()) << lang << " " << key;
        }
    }
    EXPECT_NE(backend_.alerts[0].message, backend_.alerts[1].message);
    EXPECT_EQ(ShowAlertWithMessage(NSString("100% done %s %n"), AlertButtons::ok), 1);
    EXPECT_EQ(backend_.alerts.back().message, "100% done %s %n");
}

// Without tables, or with a broken one, the key itself (or the fallback) shows.
TEST_F(BundleTest, MissingTextShowsFallbackOrKey) {
    EXPECT_EQ(Text("MSG_NOSUCHKEY"), "MSG_NOSUCHKEY");
    EXPECT_EQ(Text("MSG_NOSUCHKEY", "Fallback"), "Fallback");
    TempDir empty, broken;
    std::filesystem::create_directories(broken.path() + "/Contents/Resources/translations");
    WriteFileBytes(broken.path() + "/Contents/Resources/translations/sc820_en.qm", "not a table");
    for (const TempDir* dir : {&empty, &broken}) {
        UseMainBundleAt(dir->path());
        ShowAlert(MSG_WRITE, AlertButtons::okCancel);
        EXPECT_EQ(backend_.alerts.back().title + " " + backend_.alerts.back().message,
                  "MSG_APPNAME MSG_WRITE");
    }
}

}  // namespace
