// The message catalogue as the utility shows it: title and text from the bundle's string
// table, the buttons of each kind of alert, and messages passed through unchanged.
#include <gtest/gtest.h>

#include "app/Messages.h"
#include "tests/platform/foundation/ScopedEnv.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        NSBundle::setMainBundlePathForTesting(SC820_BUNDLE_DIR);
        env_.unset("LC_ALL").unset("LC_MESSAGES").set("LANG", "en_US.UTF-8");
    }
    void TearDown() override { NSBundle::setMainBundlePathForTesting(""); }
    ScopedEnv env_;
    RecordingBackend backend_;
};

TEST_F(MessagesTest, ButtonSetsAndAnswers) {
    struct Case {
        const char* key;
        AlertButtons buttons;
        int answer;
        const char* alternate;
    };
    const Case cases[] = {
        {MSG_WARN, AlertButtons::ok, 1, ""},
        {MSG_START, AlertButtons::okCancel, 1, "Cancel"},
        {MSG_ERASE, AlertButtons::okCancel, 0, "Cancel"},
        {MSG_SUCCESS, AlertButtons::ok, 1, ""},
    };
    for (const Case& c : cases) {
        backend_.alertAnswers.push_back(c.answer);
        EXPECT_EQ(ShowAlert(c.key, c.buttons), c.answer) << c.key;
        const ShownAlert& shown = backend_.alerts.back();
        EXPECT_EQ(shown.title, "SC820 Utility") << c.key;
        EXPECT_EQ(shown.message, LocalizedMessage(c.key).UTF8String()) << c.key;
        EXPECT_NE(shown.message, c.key);
        EXPECT_EQ(shown.defaultButton, "OK") << c.key;
        EXPECT_EQ(shown.alternateButton, c.alternate) << c.key;
        EXPECT_EQ(shown.otherButton, "") << c.key;
    }
}

TEST_F(MessagesTest, MessageIsNeverAFormat) {
    NSString message("100% done %s %n");
    EXPECT_EQ(ShowAlertWithMessage(message, AlertButtons::ok), 1);
    EXPECT_EQ(backend_.alerts.back().message, "100% done %s %n");
}

TEST_F(MessagesTest, ComposedPathMessage) {
    NSString path("/Volumes/Disk/100% \xC3\xBC/SC820 Utility");
    std::string composed = ComposedPathMessage(path).UTF8String();
    std::string expected = LocalizedMessage(MSG_PATHERROR).UTF8String() + "\r\r" +
                           LocalizedMessage(MSG_CHECKPATH).UTF8String() + path.UTF8String();
    EXPECT_EQ(composed, expected);
}

TEST_F(MessagesTest, MissingTableShowsKeys) {
    TempDir empty;
    NSBundle::setMainBundlePathForTesting(empty.path());
    ShowAlert(MSG_WRITE, AlertButtons::okCancel);
    EXPECT_EQ(backend_.alerts.back().title, "MSG_APPNAME");
    EXPECT_EQ(backend_.alerts.back().message, "MSG_WRITE");
    EXPECT_EQ(ComposedPathMessage(NSString("/b")).UTF8String(), "MSG_PATHERROR\r\rMSG_CHECKPATH/b");
}

TEST_F(MessagesTest, TextsAreLookedUpAtEachAlert) {
    ShowAlert(MSG_ERASE, AlertButtons::okCancel);
    env_.set("LANG", "de_DE.UTF-8");
    ShowAlert(MSG_ERASE, AlertButtons::okCancel);
    ASSERT_EQ(backend_.alerts.size(), 2u);
    EXPECT_NE(backend_.alerts[0].message, backend_.alerts[1].message);
}

}  // namespace
