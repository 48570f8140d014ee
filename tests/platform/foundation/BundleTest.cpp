// The bundle's files and string tables, and the message catalogue the utility shows from them.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "app/Messages.h"
#include "tests/support/EnglishTexts.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
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

void Set(const char* name, const char* value) {
    value ? setenv(name, value, 1) : unsetenv(name);
}

class BundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
            saved_.emplace_back(name, std::getenv(name) ? std::getenv(name) : "");
            Set(name, std::string(name) == "LANG" ? "en_US.UTF-8" : nullptr);
        }
        UseMainBundleAt(SC820_BUNDLE_DIR);
    }
    void TearDown() override {
        UseMainBundleAt("");
        for (const auto& [n, v] : saved_) Set(n.c_str(), v.empty() ? nullptr : v.c_str());
    }
    std::vector<std::pair<std::string, std::string>> saved_;
    RecordingBackend backend_;
};

TEST_F(BundleTest, EveryMessageHasAnEnglishAndAGermanTextChosenAtEachLookup) {
    ShowAlert(MSG_ERASE, AlertButtons::okCancel);
    Set("LANG", "de_DE.UTF-8");
    ShowAlert(MSG_ERASE, AlertButtons::okCancel);
    EXPECT_NE(backend_.alerts[0].message, backend_.alerts[1].message);
    for (const char* lang : {"de_DE.UTF-8", "en_US.UTF-8"}) {
        Set("LANG", lang);
        for (const char* key : kMessageKeys) {
            EXPECT_FALSE(Text(key) == key || Text(key).empty()) << lang << " " << key;
        }
    }
}

TEST_F(BundleTest, MissingTextShowsFallbackOrKey) {
    EXPECT_EQ(Text("MSG_NOSUCHKEY"), "MSG_NOSUCHKEY");
    EXPECT_EQ(Text("MSG_NOSUCHKEY", "Fallback"), "Fallback");
    TempDir empty, broken;
    std::string tables = broken.path() + "/Contents/Resources/translations";
    std::filesystem::create_directories(tables);
    WriteFileBytes(tables + "/sc820_en.qm", "not a table");
    for (const TempDir* dir : {&empty, &broken}) {
        UseMainBundleAt(dir->path());
        ShowAlert(MSG_WRITE, AlertButtons::okCancel);
        EXPECT_EQ(backend_.alerts.back().title, "MSG_APPNAME");
        EXPECT_EQ(backend_.alerts.back().message, "MSG_WRITE");
    }
}

TEST_F(BundleTest, AlertsShowTheirButtonSetsAndMessagesAsTheyAre) {
    const std::tuple<const char*, AlertButtons, int, const char*> cases[] = {
        {MSG_WARN, AlertButtons::ok, 1, ""},
        {MSG_START, AlertButtons::okCancel, 1, "Cancel"},
        {MSG_ERASE, AlertButtons::okCancel, 0, "Cancel"},
    };
    for (const auto& [key, buttons, answer, alternate] : cases) {
        backend_.alertAnswers.push_back(answer);
        EXPECT_EQ(ShowAlert(key, buttons), answer) << key;
        const ShownAlert& shown = backend_.alerts.back();
        EXPECT_EQ(shown.title, "SC820 Utility") << key;
        EXPECT_EQ(shown.message, kEnglishText.at(key)) << key;
        EXPECT_EQ(shown.defaultButton, "OK") << key;
        EXPECT_EQ(shown.alternateButton, alternate) << key;
        EXPECT_EQ(shown.otherButton, "") << key;
    }
    EXPECT_EQ(ShowAlertWithMessage(NSString("100% done %s %n"), AlertButtons::ok), 1);
    EXPECT_EQ(backend_.alerts.back().message, "100% done %s %n");
}

}  // namespace
