// The main window in the user's language: the choice of language shared with the alerts, the
// German texts, the names that must stay untranslated, mnemonics and the tab order.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <map>
#include <memory>

#include "platform/foundation/Foundation.h"
#include "platform/foundation/StringTable.h"
#include "platform/window/NibLoader.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/TempHost.h"

namespace {

const std::string kTables = std::string(SC820_BUNDLE_DIR) + "/Contents/Resources/translations";
using Variables = std::map<std::string, std::string>;
constexpr const char* kLocaleVariables[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

// Sets exactly the given locale variables for one test and restores the rest afterwards.
class LocaleEnvironment {
public:
    explicit LocaleEnvironment(const std::map<std::string, std::string>& values) {
        for (const char* name : kLocaleVariables) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
            auto found = values.find(name);
            found != values.end() ? setenv(name, found->second.c_str(), 1) : unsetenv(name);
        }
    }
    ~LocaleEnvironment() {
        for (const auto& [name, value] : saved_) {
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

class WindowTexts : public testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "window_tests";
        static char* argv[] = {name, nullptr};
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        if (QApplication::instance() == nullptr) new QApplication(argc, argv);  // kept
    }
    void TearDown() override {
        LocaleEnvironment english(Variables{{"LC_ALL", "C.UTF-8"}});
        InstallWindowTexts(kTables);
        UseMainBundleAt("");
    }
    // Loads the window as the program does, in the language the environment chooses.
    std::unique_ptr<QWidget> load() {
        InstallWindowTexts(kTables);
        QString error;
        std::unique_ptr<QWidget> window = LoadWindowDescription(kMainWindowDescription, &error);
        EXPECT_TRUE(window) << error.toStdString();
        return window;
    }
    static QString text(QWidget* window, const char* name) {
        QWidget* widget = window->findChild<QWidget*>(QString::fromLatin1(name));
        if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
        if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
        return widget != nullptr ? widget->windowTitle() : QStringLiteral("(missing)");
    }
};

// The user's languages follow Qt's order of the variables, and the window and its alerts speak
// the first one that has tables, whichever variable chooses it.
TEST_F(WindowTexts, TheWindowAndItsAlertsSpeakTheUsersLanguage) {
    const struct Case {
        Variables environment;
        QStringList languages;
        bool german;
    } cases[] = {
        {{}, {"en"}, false},
        {{{"LANG", "de_DE.UTF-8"}}, {"de_DE"}, true},
        {{{"LANG", "de_AT.UTF-8@euro"}}, {"de_AT"}, true},
        {{{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "de_DE.UTF-8"}}, {"de_DE"}, true},
        {{{"LC_MESSAGES", "de_DE.UTF-8"}, {"LC_ALL", "en_GB.UTF-8"}}, {"en_GB"}, false},
        {{{"LC_ALL", "C.UTF-8"}, {"LANG", "de_DE.UTF-8"}}, {"en"}, false},
        {{{"LANG", "POSIX"}}, {"en"}, false},
        // LANGUAGE outranks every other variable, as in every Qt program; a language without
        // tables gives way to the next one the user named.
        {{{"LANGUAGE", "fr:de"}, {"LC_ALL", "C.UTF-8"}}, {"fr", "de"}, true},
        {{{"LANGUAGE", "de_AT:de::"}, {"LANG", "en_US.UTF-8"}}, {"de_AT", "de"}, true},
        {{{"LANGUAGE", ""}, {"LANG", "de_DE.UTF-8"}}, {"de_DE"}, true},
        {{{"LANGUAGE", "fr"}, {"LANG", "de_DE.UTF-8"}}, {"fr"}, false},
        {{{"LANGUAGE", "en:de"}, {"LANG", "de_DE.UTF-8"}}, {"en", "de"}, false},
    };
    UseMainBundleAt(SC820_BUNDLE_DIR);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.languages.join(':').toStdString());
        LocaleEnvironment environment(c.environment);
        EXPECT_EQ(StringTable::userLanguages(), c.languages);
        std::unique_ptr<QWidget> window = load();
        ASSERT_TRUE(window);
        EXPECT_EQ(text(window.get(), "btnCancel"), c.german ? "&Abbrechen" : "&Cancel");
        const std::string alert =
            NSBundle::mainBundle()
                .localizedStringForKey(NSString("MSG_START"), NSString(""), nullptr)
                .UTF8String();
        EXPECT_NE(alert.find(c.german ? "Fortfahren?" : "Continue?"), std::string::npos) << alert;
    }
}

TEST_F(WindowTexts, GermanWindowKeepsItsNamesAndNumbers) {
    LocaleEnvironment german(Variables{{"LANG", "de_DE.UTF-8"}});
    std::unique_ptr<QWidget> window = load();
    ASSERT_TRUE(window);
    const std::pair<const char*, const char*> texts[] = {
        {"configurationView", "SCSI-Konfiguration"},
        {"hostSCSIIDLabel", "SCSI-&ID des Hostadapters:"},
        {"burstTransferGroup", "B&urst-Übertragung"},
        {"out_parity_D", "Aus"},
        {"out_SCSITerminators_1", "Nur oberes Byte"},
        {"targetHeader1", "<b>Max. Übertragung</b>"},
        {"targetID12", "12"},
        {"versionGroup", "Versionen"},
        {"btnDefault", "&Standard"},
        {"out_write", "BIOS sc&hreiben…"},
        {"btnPasswordCancel", "Abbrechen"},
    };
    for (const auto& [name, expected] : texts) {
        EXPECT_EQ(text(window.get(), name).toStdString(), expected) << name;
    }
    auto* reset = window->findChild<QComboBox*>("out_resetRecoveringTime");
    ASSERT_NE(reset, nullptr);
    EXPECT_EQ(reset->itemText(0).toStdString(), "0,5 s");
    auto* rate = window->findChild<QComboBox*>("maxTransfer3");
    ASSERT_NE(rate, nullptr);
    EXPECT_EQ(rate->itemText(1).toStdString(), "26,6 MB/s");
    EXPECT_EQ(rate->accessibleName().toStdString(), "Maximale Übertragungsrate von Ziel 3");
    auto* hostID = window->findChild<QComboBox*>("out_hostSCSIID");
    ASSERT_NE(hostID, nullptr);
    EXPECT_EQ(hostID->itemText(15).toStdString(), "15");
    // The names the window layer wires by stay as they are.
    EXPECT_EQ(window->property("nibOwner").toString().toStdString(), "SC820Controller");
    EXPECT_EQ(
        window->findChild<QWidget*>("btnDefault")->property("action").toString().toStdString(),
        "act_default:");
    EXPECT_EQ(window->windowTitle().toStdString(), "SC820 Utility");
}

// Every mnemonic of the main window is taken once, in every language, and the controls that
// should have one do.
class Mnemonics : public WindowTexts, public testing::WithParamInterface<const char*> {};

TEST_P(Mnemonics, AreUniqueAndPresent) {
    LocaleEnvironment environment(Variables{{"LANG", GetParam()}});
    std::unique_ptr<QWidget> window = load();
    ASSERT_TRUE(window);
    std::map<QKeySequence, std::string> taken;
    for (const char* name :
         {"hostSCSIIDLabel", "resetRecoveringTimeLabel", "requestSenseDelayLabel",
          "burstTransferGroup", "parityGroup", "terminatorGroup", "btnDefault", "out_erase",
          "out_write", "btnOk", "btnCancel"}) {
        QKeySequence key = QKeySequence::mnemonic(text(window.get(), name));
        EXPECT_FALSE(key.isEmpty()) << name << " has no mnemonic";
        if (key.isEmpty()) continue;
        auto [it, inserted] = taken.emplace(key, name);
        EXPECT_TRUE(inserted) << name << " and " << it->second << " share "
                              << key.toString().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, Mnemonics, testing::Values("C.UTF-8", "de_DE.UTF-8"));

TEST_F(WindowTexts, TabGoesThroughTheFormRowByRowThenTheButtons) {
    LocaleEnvironment english(Variables{{"LC_ALL", "C.UTF-8"}});
    std::unique_ptr<QWidget> window = load();
    ASSERT_TRUE(window);
    std::vector<std::string> expected = {
        "out_hostSCSIID",        "out_resetRecoveringTime", "out_requestSenseDelay",
        "out_burstTransfer_E",   "out_burstTransfer_D",     "out_parity_E",
        "out_parity_D",          "out_SCSITerminators_0",   "out_SCSITerminators_1",
        "out_SCSITerminators_2", "out_SCSITerminators_3"};
    for (int target = 0; target < 16; ++target) {
        for (const char* control : {"maxTransfer", "synchronous", "wide", "disconnect"}) {
            expected.push_back(control + std::to_string(target));
        }
    }
    for (const char* name :
         {"out_verSCSIConfigration", "out_verConfigurateionDriver", "out_verPCB", "out_verSCSIBIOS",
          "btnDefault", "out_erase", "out_write", "btnOk", "btnCancel"}) {
        expected.push_back(name);
    }
    QWidget* first = window->findChild<QWidget*>("out_hostSCSIID");
    ASSERT_NE(first, nullptr);
    std::vector<std::string> chain;
    QWidget* widget = first;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->window() == window.get()) {
            chain.push_back(widget->objectName().toStdString());
        }
        widget = widget->nextInFocusChain();
    } while (widget != first && chain.size() < 200);
    EXPECT_EQ(chain, expected);
}

}  // namespace
