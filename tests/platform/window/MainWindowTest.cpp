// The main window description as the utility relies on it: the user's language (the choice
// shared with the alerts), the tab order, its alert box and open panel taking the keys, and the
// automation engine in-process.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "platform/foundation/StringTable.h"
#include "platform/window/Dialogs.h"
#include "platform/window/NibLoader.h"
#include "platform/window/QtBackend.h"
#include "platform/window/QtControls.h"
#include "platform/window/automation/Automation.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/TempHost.h"

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "window_tests";
        static char* argv[] = {name, nullptr};
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        if (QApplication::instance() == nullptr) new QApplication(argc, argv);  // kept
        QString error;
        window_ = LoadWindowDescription(kMainWindowDescription, &error);
        ASSERT_TRUE(window_) << error.toStdString();
    }
    template <typename T = QWidget>
    T* child(const char* name) {
        return window_->findChild<T*>(QString::fromLatin1(name));
    }
    std::unique_ptr<QWidget> window_;
};

// Acts as the person at the window's modal boxes: each time one is up, `act` gets it.
class Person {
public:
    explicit Person(std::function<void(QWidget*)> act) {
        QObject::connect(&timer_, &QTimer::timeout, [act] {
            if (QWidget* modal = QApplication::activeModalWidget()) act(modal);
        });
        timer_.start(10);
    }

private:
    QTimer timer_;
};

// The open panel, answered by keys: a typed name and Enter give the file chosen, byte for byte,
// also when its name is not UTF-8; a name that reads the same as another one's in its folder is
// refused and the panel stays open; Escape cancels.
TEST_F(MainWindowTest, TheOpenPanelGivesTheFileTypedByteForByteAndEscapeCancels) {
    const struct Case {
        std::vector<std::string> files;
        std::string chosen;  // empty: refused (when typed), then cancelled
        bool typed = true;
    } cases[] = {
        {{"bios.rom"}, "bios.rom"},
        {{"img\xFF.bin"}, "img\xFF.bin"},
        {{"img\xEF\xBF\xBD.bin"}, "img\xEF\xBF\xBD.bin"},
        {{"img\xFF.bin", "img\xEF\xBF\xBD.bin"}, ""},
        {{"bios.rom"}, "", false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        SCOPED_TRACE(c.files.size());
        for (const std::string& file : c.files) WriteFileBytes(dir.path() + "/" + file, "image");
        int refusals = 0;
        bool typed = !c.typed;
        Person person([&](QWidget* modal) {
            auto* name = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (qobject_cast<QMessageBox*>(modal) != nullptr) {
                ++refusals;
                QTest::keyClick(modal, Qt::Key_Return);
            } else if (qobject_cast<QFileDialog*>(modal) != nullptr && (typed || name == nullptr)) {
                QTest::keyClick(modal, Qt::Key_Escape);
            } else if (qobject_cast<QFileDialog*>(modal) != nullptr) {
                typed = true;
                // Typed one character at a time, as a keyboard or an input method gives it.
                for (QChar key : QFile::decodeName(QByteArray::fromStdString(c.files[0]))) {
                    QTest::sendKeyEvent(QTest::Click, name, Qt::Key_unknown, QString(key), {});
                }
                QTest::keyClick(name, Qt::Key_Return);
            }
        });
        NSString chosen;
        EXPECT_EQ(RunOpenDialog(NSString(dir.path()), nullptr, nullptr, &chosen),
                  c.chosen.empty() ? NSCancelButton : NSOKButton);
        EXPECT_EQ(chosen.UTF8String(), c.chosen.empty() ? "" : dir.path() + "/" + c.chosen);
        EXPECT_EQ(refusals, c.chosen.empty() && c.typed ? 1 : 0);
    }
}

// The alert box, answered by keys: Enter gives the default button, Escape the alternate one
// where there is one, never OK on a question. Both texts show plain, never as markup.
TEST_F(MainWindowTest, TheAlertBoxAnswersEnterWithItsDefaultAndEscapeWithItsAlternate) {
    window_->show();
    for (const auto& [alternate, key, answer] : {std::tuple{"Cancel", Qt::Key_Escape, 0},
                                                 {"Cancel", Qt::Key_Return, 1},
                                                 {nullptr, Qt::Key_Escape, 1},
                                                 {nullptr, Qt::Key_Return, 1}}) {
        std::vector<QString> seen;
        Person person([&, key = key](QWidget* modal) {
            for (const char* name : {"qt_msgbox_label", "qt_msgbox_informativelabel"}) {
                auto* label = modal->findChild<QLabel*>(QString::fromLatin1(name));
                if (label != nullptr && label->textFormat() == Qt::PlainText) {
                    seen.push_back(label->text());
                }
            }
            QTest::keyClick(modal, key);
        });
        EXPECT_EQ(RunAlertBox(NSString("Title"), NSString("Write <i>now</i>?"), "OK", alternate,
                              nullptr, NSString("/home/me/<b>x</b>.bin\n4 bytes")),
                  answer);
        EXPECT_EQ(seen,
                  (std::vector<QString>{"Write <i>now</i>?", "/home/me/<b>x</b>.bin\n4 bytes"}));
    }
}

// The per-target controls are found once each by their tag in their container, each of its kind;
// a position outside a list selects nothing.
TEST_F(MainWindowTest, EveryTaggedControlIsFoundOnceAndIsOfItsKind) {
    NSView* box = NSViewForWidget(child("out_hostSCSIID"))->superview();
    std::set<NSView*> found;
    for (long tag = 100; tag < 416; tag += tag % 100 == 15 ? 85 : 1) {
        NSView* view = box->viewWithTag(tag);
        ASSERT_TRUE(view != nullptr && view->superview() == box && found.insert(view).second);
        EXPECT_EQ(WidgetTag(WidgetForObject(view)), tag);
        EXPECT_TRUE(tag >= 200 ? dynamic_cast<NSButton*>(view) != nullptr
                               : dynamic_cast<NSPopUpButton*>(view) != nullptr)
            << tag;
    }
    EXPECT_EQ(box->viewWithTag(116), nullptr);
    int tagged = 0;
    for (QWidget* widget : window_->findChildren<QWidget*>())
        tagged += widget->property("tag").isValid();
    EXPECT_EQ(tagged, 64);
    auto* list = dynamic_cast<NSPopUpButton*>(box->viewWithTag(100));
    for (const auto& [index, selected] :
         {std::pair{3, 3}, {-1, -1}, {10, 10}, {11, -1}, {-7, -1}}) {
        list->selectItemAtIndex(5);
        list->selectItemAtIndex(index);
        EXPECT_EQ(list->indexOfSelectedItem(), selected) << index;
    }
}

// Through the controls the utility uses, setState turns a button on and its partner off, and
// off even when it is the only one on, which Qt alone would keep.
TEST_F(MainWindowTest, SetStateTurnsOnlyTheButtonOnOrOff) {
    auto* enabled = dynamic_cast<NSButton*>(NSViewForWidget(child("out_parity_E")));
    auto* disabled = dynamic_cast<NSButton*>(NSViewForWidget(child("out_parity_D")));
    disabled->setState(1);
    enabled->setState(1);
    EXPECT_EQ(disabled->state(), 0);
    enabled->setState(0);
    EXPECT_EQ(enabled->state() + disabled->state(), 0);
    EXPECT_TRUE(child<QRadioButton>("out_parity_E")->autoExclusive());
}

// The automation engine over the main window, writing its transcript to a file; the exit it
// is given throws, so that a test sees the status.
struct Exited {
    int status;
};

class AutomationTest : public MainWindowTest {
protected:
    void start(const std::string& text) {
        std::string error;
        auto script = AutomationScript::parse(text, &error);
        ASSERT_TRUE(script.has_value()) << error;
        path_ = dir_.path() + "/transcript";
        automation_ = std::make_unique<Automation>(
            std::move(*script),
            std::make_unique<Transcript>(
                ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), true),
            [](int status) { throw Exited{status}; });
        automation_->attach(window_.get(), {"out_window", "out_hostSCSIID", "out_parity_E",
                                            "out_parity_D", "out_verPCB", "dlgPassword"});
    }
    // Runs the action, then idle steps, until the script ends the run: its exit status.
    int runToEnd(const std::function<void()>& action = [] {}) {
        try {
            action();
            for (int i = 0; i < 100; ++i) automation_->runIdleStep();
        } catch (const Exited& exited) {
            return exited.status;
        }
        return -1;
    }
    std::string transcript() const { return ReadFileBytes(path_); }

    TempDir dir_;
    std::string path_;
    std::unique_ptr<Automation> automation_;
};

// What the script cannot do, or does not answer, ends the run with status 3 and says why.
TEST_F(AutomationTest, WhatTheScriptCannotDoEndsWithStatus3) {
    enum Open { none, alert, panel };
    const std::tuple<const char*, Open, const char*> cases[] = {
        {"", alert, "script ended while an alert is open: Start?"},
        {"press ok\n", alert, "line 1 (press ok): an alert is open and needs an answer: Start?"},
        {"choose /x\n", alert, "line 1 (choose /x): an alert is open"},
        {"", panel, "script ended while an open panel is open in /home/op"},
        {"answer 1\n", panel, "line 1 (answer 1): an open panel is open"},
        {"answer 1\n", none, "line 1 (answer 1): no alert or open panel is open"},
        {"choose-cancel\n", none, "line 1 (choose-cancel): no alert or open panel is open"},
        {"select out_nothing 1\n", none, "line 1 (select out_nothing 1): no control out_nothing"},
        {"select tag:999 1\n", none, "line 1 (select tag:999 1): no control tag:999"},
        {"select out_parity_E 1\n", none,
         "line 1 (select out_parity_E 1): out_parity_E is not a pop-up list"},
        {"set out_hostSCSIID 1\n", none,
         "line 1 (set out_hostSCSIID 1): out_hostSCSIID is not a button"},
        {"dump\nset tag:100 1\n", none, "line 2 (set tag:100 1): tag:100 is not a button"},
        {"press erase\n", none, "line 1 (press erase): the button is disabled"},
    };
    child("out_erase")->setEnabled(false);
    for (const auto& [script, open, error] : cases) {
        start(script);
        std::string chosen;
        EXPECT_EQ(runToEnd([&, open = open] {
                      if (open == alert) automation_->answerAlert("T", "Start?", "OK", "Cancel");
                      if (open == panel) automation_->answerPanel("/home/op", &chosen);
                  }),
                  3)
            << script;
        const std::string last =
            transcript().substr(transcript().rfind('\n', transcript().size() - 2) + 1);
        EXPECT_EQ(last.rfind(std::string("error\t") + error, 0), 0u) << last;
    }
}

using Variables = std::map<std::string, std::string>;

// The window in the language that the locale variables choose; they are restored afterwards.
class WindowTexts : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
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
        EXPECT_EQ(window->findChild<QAbstractButton*>("btnCancel")->text(),
                  german ? "&Abbrechen" : "&Cancel");
        const std::string alert =
            NSBundle::mainBundle()
                .localizedStringForKey(NSString("MSG_START"), NSString(""), nullptr)
                .UTF8String();
        EXPECT_NE(alert.find(german ? "Fortfahren?" : "Continue?"), std::string::npos) << alert;
    }
}

// Tab goes through the form row by row, then the buttons.
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
