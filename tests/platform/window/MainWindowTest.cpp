// The main window description as the utility relies on it: the outlets by object name, the
// 64 per-target controls found by tag from the container of the host SCSI ID list, the lists'
// items, the exclusive button groups, and the buttons' actions.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <map>
#include <memory>
#include <set>

#include "platform/window/NibLoader.h"
#include "platform/window/QtControls.h"
#include "tests/platform/window/QtTestApp.h"

namespace {

const char* const kRates[] = {"40 MB/s",   "26.6 MB/s", "20 MB/s", "16 MB/s",
                              "13.3 MB/s", "11.4 MB/s", "10 MB/s", "8 MB/s",
                              "6.6 MB/s",  "5.7 MB/s",  "5 MB/s"};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QtTestApp();
        QString error;
        window_ = LoadWindowDescription(kMainWindowDescription, &error);
        ASSERT_TRUE(window_) << error.toStdString();
    }
    template <typename T = QWidget>
    T* child(const char* name) {
        return window_->findChild<T*>(QString::fromLatin1(name));
    }
    NSView* container() { return NSViewForWidget(child("out_hostSCSIID"))->superview(); }

    std::unique_ptr<QWidget> window_;
};

TEST_F(MainWindowTest, EveryOutletIsAWidgetOfItsKind) {
    EXPECT_EQ(window_->objectName(), "out_window");
    EXPECT_EQ(window_->property("nibOwner").toString(), "SC820Controller");
    const char* lists[] = {"out_hostSCSIID", "out_resetRecoveringTime", "out_requestSenseDelay"};
    const char* radios[] = {"out_burstTransfer_E",   "out_burstTransfer_D",
                            "out_parity_E",          "out_parity_D",
                            "out_SCSITerminators_0", "out_SCSITerminators_1",
                            "out_SCSITerminators_2", "out_SCSITerminators_3"};
    const char* fields[] = {"out_verSCSIConfigration", "out_verConfigurateionDriver",
                            "out_verSCSIBIOS", "out_verPCB"};
    for (const char* name : lists) {
        EXPECT_NE(dynamic_cast<NSPopUpButton*>(NSOutletObjectForWidget(child(name))), nullptr)
            << name;
    }
    for (const char* name : radios) {
        EXPECT_NE(child<QRadioButton>(name), nullptr) << name;
        EXPECT_NE(dynamic_cast<NSButton*>(NSOutletObjectForWidget(child(name))), nullptr) << name;
    }
    for (const char* name : fields) {
        auto* edit = child<QLineEdit>(name);
        ASSERT_NE(edit, nullptr) << name;
        EXPECT_TRUE(edit->isReadOnly()) << name;
        EXPECT_NE(dynamic_cast<NSTextField*>(NSOutletObjectForWidget(edit)), nullptr) << name;
    }
    EXPECT_NE(child<QPushButton>("out_erase"), nullptr);
    EXPECT_NE(child<QPushButton>("out_write"), nullptr);
    EXPECT_NE(dynamic_cast<NSWindow*>(NSOutletObjectForWidget(window_.get())), nullptr);
}

TEST_F(MainWindowTest, PasswordDialogIsAHiddenWindowOfItsOwn) {
    auto* dialog = child<QDialog>("dlgPassword");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isWindow());
    window_->show();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_NE(dynamic_cast<NSWindow*>(NSOutletObjectForWidget(dialog)), nullptr);
    auto* password = child<QLineEdit>("txtPassword");
    ASSERT_NE(password, nullptr);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(password->window(), dialog);
}

TEST_F(MainWindowTest, ButtonsSendTheirActions) {
    std::map<std::string, int> actions;
    for (QAbstractButton* button : window_->findChildren<QAbstractButton*>()) {
        QString action = button->property("action").toString();
        if (!action.isEmpty()) ++actions[action.toStdString()];
    }
    std::map<std::string, int> expected = {
        {"act_default:", 1}, {"act_erase:", 1}, {"act_write:", 1}, {"act_ok:", 1},
        {"act_cancel:", 1},  {"dlgOk:", 1},     {"dlgCancel:", 1}};
    EXPECT_EQ(actions, expected);
    EXPECT_EQ(child("out_erase")->property("action").toString(), "act_erase:");
    EXPECT_EQ(child("out_write")->property("action").toString(), "act_write:");
}

TEST_F(MainWindowTest, PerTargetControlsAreFoundByTagInTheContainer) {
    NSView* box = container();
    ASSERT_NE(box, nullptr);
    struct Base {
        long tag;
        bool list;
    };
    const Base bases[] = {{100, true}, {200, false}, {300, false}, {400, false}};
    std::set<NSView*> found;
    for (const Base& base : bases) {
        for (long i = 0; i < 16; ++i) {
            long tag = base.tag + i;
            NSView* view = box->viewWithTag(tag);
            ASSERT_NE(view, nullptr) << tag;
            EXPECT_EQ(view->tag(), tag);
            EXPECT_EQ(view->superview(), box) << tag;
            EXPECT_TRUE(found.insert(view).second) << tag;
            if (base.list) {
                EXPECT_NE(dynamic_cast<NSPopUpButton*>(view), nullptr) << tag;
            } else {
                EXPECT_NE(dynamic_cast<NSButton*>(view), nullptr) << tag;
                EXPECT_NE(qobject_cast<QCheckBox*>(WidgetForObject(view)), nullptr) << tag;
            }
        }
    }
    EXPECT_EQ(found.size(), 64u);
    // Nothing else in the window carries a tag, and no tag is carried twice.
    std::map<long, int> tags;
    for (QWidget* widget : window_->findChildren<QWidget*>()) {
        if (widget->property("tag").isValid()) ++tags[WidgetTag(widget)];
    }
    EXPECT_EQ(tags.size(), 64u);
    for (const auto& [tag, count] : tags) EXPECT_EQ(count, 1) << tag;
    EXPECT_EQ(box->viewWithTag(116), nullptr);
    EXPECT_EQ(box->viewWithTag(99), nullptr);
}

TEST_F(MainWindowTest, ListItems) {
    auto* host = child<QComboBox>("out_hostSCSIID");
    ASSERT_EQ(host->count(), 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(host->itemText(i), QString::number(i));
    EXPECT_GE(child<QComboBox>("out_resetRecoveringTime")->count(), 8);
    EXPECT_GE(child<QComboBox>("out_requestSenseDelay")->count(), 8);
    for (long i = 0; i < 16; ++i) {
        auto* rates = qobject_cast<QComboBox*>(WidgetWithTag(window_.get(), 100 + i));
        ASSERT_NE(rates, nullptr);
        ASSERT_EQ(rates->count(), 11) << i;
        for (int k = 0; k < 11; ++k) EXPECT_EQ(rates->itemText(k), kRates[k]) << i << " " << k;
    }
}

TEST_F(MainWindowTest, TerminatorButtonsSayWhatTheyMean) {
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {{"out_SCSITerminators_0", "Automatic"},
                          {"out_SCSITerminators_1", "High byte only"},
                          {"out_SCSITerminators_2", "On (low and high byte)"},
                          {"out_SCSITerminators_3", "Off"}};
    for (const Case& c : cases) EXPECT_EQ(child<QRadioButton>(c.name)->text(), c.text);
}

// Each pair or group is exclusive on its own: turning one on turns off only its partners.
TEST_F(MainWindowTest, GroupsAreExclusiveSeparately) {
    const std::vector<std::vector<const char*>> groups = {
        {"out_burstTransfer_E", "out_burstTransfer_D"},
        {"out_parity_E", "out_parity_D"},
        {"out_SCSITerminators_0", "out_SCSITerminators_1", "out_SCSITerminators_2",
         "out_SCSITerminators_3"}};
    for (const auto& group : groups) {
        for (const char* on : group) {
            for (const auto& g : groups) child<QRadioButton>(g[0])->setChecked(true);
            child<QRadioButton>(on)->click();
            for (const auto& g : groups) {
                for (const char* name : g) {
                    bool expect = (&g == &group) ? std::string(name) == on : name == g[0];
                    EXPECT_EQ(child<QRadioButton>(name)->isChecked(), expect)
                        << on << " / " << name;
                }
            }
        }
    }
}

TEST_F(MainWindowTest, SetStateTurnsAnExclusiveButtonOff) {
    auto* enabled = dynamic_cast<NSButton*>(NSViewForWidget(child("out_parity_E")));
    auto* disabled = dynamic_cast<NSButton*>(NSViewForWidget(child("out_parity_D")));
    enabled->setState(1);
    EXPECT_EQ(enabled->state(), 1);
    EXPECT_EQ(disabled->state(), 0);
    enabled->setState(0);
    EXPECT_EQ(enabled->state(), 0);  // Qt alone would keep the only checked radio on
    EXPECT_EQ(disabled->state(), 0);
    EXPECT_TRUE(child<QRadioButton>("out_parity_E")->autoExclusive());
    disabled->setState(1);
    enabled->setState(1);
    EXPECT_EQ(disabled->state(), 0);
    // Check boxes follow the same calls.
    auto* sync = dynamic_cast<NSButton*>(container()->viewWithTag(207));
    sync->setState(1);
    EXPECT_EQ(sync->state(), 1);
    sync->setState(0);
    EXPECT_EQ(sync->state(), 0);
}

TEST_F(MainWindowTest, SelectItemAtIndexOutsideTheItemsSelectsNone) {
    auto* list = dynamic_cast<NSPopUpButton*>(container()->viewWithTag(100));
    struct Case {
        int index;
        int selected;
    };
    const Case cases[] = {{3, 3}, {-1, -1}, {10, 10}, {11, -1}, {0, 0}, {500, -1}, {-7, -1}};
    for (const Case& c : cases) {
        list->selectItemAtIndex(5);
        list->selectItemAtIndex(c.index);
        EXPECT_EQ(list->indexOfSelectedItem(), c.selected) << c.index;
    }
    EXPECT_EQ(list->numberOfItems(), 11);
}

TEST_F(MainWindowTest, TextFieldHoldsUnicodeText) {
    auto* field = dynamic_cast<NSTextField*>(NSViewForWidget(child("out_verSCSIBIOS")));
    NSString text("updated. \xC3\xBC \xF0\x9D\x84\x9E 100%");
    field->setStringValue(text);
    EXPECT_EQ(field->stringValue(), text);
    EXPECT_EQ(child<QLineEdit>("out_verSCSIBIOS")->text().toStdString(), text.UTF8String());
}

TEST_F(MainWindowTest, WindowsHaveNoSuperview) {
    EXPECT_EQ(NSViewForWidget(window_.get())->superview(), nullptr);
    EXPECT_EQ(NSViewForWidget(child("dlgPassword"))->superview(), nullptr);
    // The password dialog's controls are not part of the main window's views.
    EXPECT_EQ(NSViewForWidget(window_.get())->viewWithTag(0), NSViewForWidget(window_.get()));
}

}  // namespace
