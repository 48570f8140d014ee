// The main window in the user's language: the choice of language shared with the alerts, the
// German texts, the names that must stay untranslated, mnemonics and the tab order.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <map>
#include <memory>
#include <optional>

#include "platform/foundation/Foundation.h"
#include "platform/foundation/StringTable.h"
#include "platform/window/NibLoader.h"
#include "tests/support/PlatformProbes.h"

namespace {

using Variables = std::map<std::string, std::string>;

class WindowTexts : public testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "window_tests";
        static char* argv[] = {name, nullptr};
        if (QApplication::instance() == nullptr) new QApplication(argc, argv);  // kept
        for (const char* n : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
            saved_[n] = getenv(n) ? std::optional<std::string>(getenv(n)) : std::nullopt;
        }
    }
    void TearDown() override {
        for (const auto& [n, v] : saved_)
            v ? setenv(n.c_str(), v->c_str(), 1) : unsetenv(n.c_str());
        InstallWindowTexts(kTables);
        UseMainBundleAt("");
    }
    // Loads the window as the program does, in the language that exactly these variables choose.
    std::unique_ptr<QWidget> load(const Variables& locale) {
        for (const auto& [n, v] : saved_) {
            locale.count(n) ? setenv(n.c_str(), locale.at(n).c_str(), 1) : unsetenv(n.c_str());
        }
        InstallWindowTexts(kTables);
        QString error;
        std::unique_ptr<QWidget> window = LoadWindowDescription(kMainWindowDescription, &error);
        EXPECT_TRUE(window) << error.toStdString();
        return window;
    }
    static std::string text(QWidget* window, const char* name) {
        QWidget* widget = window->findChild<QWidget*>(QString::fromLatin1(name));
        if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            return button->text().toStdString();
        if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title().toStdString();
        return widget != nullptr ? widget->windowTitle().toStdString() : "(missing)";
    }
    const std::string kTables = std::string(SC820_BUNDLE_DIR) + "/Contents/Resources/translations";
    std::map<std::string, std::optional<std::string>> saved_;
};

// The user's languages follow Qt's order of the variables, and the window and its alerts speak
// the first one that has tables, whichever variable chooses it. LANGUAGE outranks every other
// variable, as in every Qt program; a language without tables gives way to the next one named.
TEST_F(WindowTexts, TheWindowAndItsAlertsSpeakTheUsersLanguage) {
    const std::tuple<Variables, QStringList, bool> cases[] = {
        {{}, {"en"}, false},
        {{{"LANG", "de_DE.UTF-8"}}, {"de_DE"}, true},
        {{{"LANG", "de_AT.UTF-8@euro"}}, {"de_AT"}, true},
        {{{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "de_DE.UTF-8"}}, {"de_DE"}, true},
        {{{"LC_MESSAGES", "de_DE.UTF-8"}, {"LC_ALL", "en_GB.UTF-8"}}, {"en_GB"}, false},
        {{{"LC_ALL", "C.UTF-8"}, {"LANG", "de_DE.UTF-8"}}, {"en"}, false},
        {{{"LANG", "POSIX"}}, {"en"}, false},
        {{{"LANGUAGE", "fr:de"}, {"LC_ALL", "C.UTF-8"}}, {"fr", "de"}, true},
        {{{"LANGUAGE", "de_AT:de::"}, {"LANG", "en_US.UTF-8"}}, {"de_AT", "de"}, true},
        {{{"LANGUAGE", ""}, {"LANG", "de_DE.UTF-8"}}, {"de_DE"}, true},
        {{{"LANGUAGE", "fr"}, {"LANG", "de_DE.UTF-8"}}, {"fr"}, false},
        {{{"LANGUAGE", "en:de"}, {"LANG", "de_DE.UTF-8"}}, {"en", "de"}, false},
    };
    UseMainBundleAt(SC820_BUNDLE_DIR);
    for (const auto& [locale, languages, german] : cases) {
        SCOPED_TRACE(languages.join(':').toStdString());
        std::unique_ptr<QWidget> window = load(locale);
        EXPECT_EQ(StringTable::userLanguages(), languages);
        EXPECT_EQ(text(window.get(), "btnCancel"), german ? "&Abbrechen" : "&Cancel");
        const std::string alert =
            NSBundle::mainBundle()
                .localizedStringForKey(NSString("MSG_START"), NSString(""), nullptr)
                .UTF8String();
        EXPECT_NE(alert.find(german ? "Fortfahren?" : "Continue?"), std::string::npos) << alert;
    }
}

// German texts with their decimal commas; the names the window layer wires by stay as they are.
TEST_F(WindowTexts, GermanWindowKeepsItsNamesAndNumbers) {
    std::unique_ptr<QWidget> window = load({{"LANG", "de_DE.UTF-8"}});
    for (const auto& [name, expected] : {std::pair{"hostSCSIIDLabel", "SCSI-&ID des Hostadapters:"},
                                         {"burstTransferGroup", "B&urst-Übertragung"},
                                         {"targetHeader1", "<b>Max. Übertragung</b>"},
                                         {"targetID12", "12"},
                                         {"out_write", "BIOS sc&hreiben…"},
                                         {"btnPasswordCancel", "Abbrechen"}}) {
        EXPECT_EQ(text(window.get(), name), expected) << name;
    }
    const auto item = [&](const char* name, int i) {
        return window->findChild<QComboBox*>(name)->itemText(i).toStdString();
    };
    EXPECT_EQ(item("out_resetRecoveringTime", 0) + " " + item("maxTransfer3", 1) + " " +
                  item("out_hostSCSIID", 15),
              "0,5 s 26,6 MB/s 15");
    EXPECT_EQ(window->findChild<QWidget*>("maxTransfer3")->accessibleName().toStdString(),
              "Maximale Übertragungsrate von Ziel 3");
    EXPECT_EQ(window->property("nibOwner").toString(), "SC820Controller");
    EXPECT_EQ(window->findChild<QWidget*>("btnDefault")->property("action").toString(),
              "act_default:");
    EXPECT_EQ(window->windowTitle(), "SC820 Utility");
}

// Every mnemonic of the main window is taken once, in every language, and the controls that
// should have one do.
TEST_F(WindowTexts, MnemonicsAreUniqueAndPresent) {
    for (const char* lang : {"C.UTF-8", "de_DE.UTF-8"}) {
        std::unique_ptr<QWidget> window = load({{"LANG", lang}});
        std::map<QKeySequence, std::string> taken;
        for (const char* name :
             {"hostSCSIIDLabel", "resetRecoveringTimeLabel", "requestSenseDelayLabel",
              "burstTransferGroup", "parityGroup", "terminatorGroup", "btnDefault", "out_erase",
              "out_write", "btnOk", "btnCancel"}) {
            QKeySequence key =
                QKeySequence::mnemonic(QString::fromStdString(text(window.get(), name)));
            EXPECT_TRUE(!key.isEmpty() && taken.emplace(key, name).second) << lang << " " << name;
        }
    }
}

TEST_F(WindowTexts, TabGoesThroughTheFormRowByRowThenTheButtons) {
    std::unique_ptr<QWidget> window = load({{"LC_ALL", "C.UTF-8"}});
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
    expected.insert(expected.end(), {"out_verSCSIConfigration", "out_verConfigurateionDriver",
                                     "out_verPCB", "out_verSCSIBIOS", "btnDefault", "out_erase",
                                     "out_write", "btnOk", "btnCancel"});
    QWidget* first = window->findChild<QWidget*>("out_hostSCSIID");
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
