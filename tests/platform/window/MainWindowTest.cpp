// The main window description as the utility relies on it, and the automation engine acting
// on it in-process.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <tuple>

#include "platform/window/Dialogs.h"
#include "platform/window/NibLoader.h"
#include "platform/window/QtBackend.h"
#include "platform/window/QtControls.h"
#include "platform/window/automation/Automation.h"
#include "tests/support/TempHost.h"

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "window_tests";
        static char* argv[] = {name, nullptr};
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static QApplication* app = new QApplication(argc, argv);  // one per process, kept
        ASSERT_NE(app, nullptr);
        QString error;
        window_ = LoadWindowDescription(kMainWindowDescription, &error);
        ASSERT_TRUE(window_) << error.toStdString();
    }
    template <typename T = QWidget>
    T* child(const char* name) {
        return window_->findChild<T*>(QString::fromLatin1(name));
    }
    NSButton* button(QWidget* widget) { return dynamic_cast<NSButton*>(NSViewForWidget(widget)); }
    NSView* container() { return NSViewForWidget(child("out_hostSCSIID"))->superview(); }

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
        bool typed = false;
        Person person([&](QWidget* modal) {
            if (qobject_cast<QMessageBox*>(modal) != nullptr) {
                ++refusals;
                QTest::keyClick(modal, Qt::Key_Return);
            } else if (auto* panel = qobject_cast<QFileDialog*>(modal)) {
                if (typed || !c.typed) {
                    QTest::keyClick(panel, Qt::Key_Escape);
                    return;
                }
                typed = true;
                auto* name = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                ASSERT_NE(name, nullptr);
                // Typed one character at a time, as a keyboard or an input method gives it.
                for (QChar key : QFile::decodeName(QByteArray::fromStdString(c.files[0]))) {
                    QTest::sendKeyEvent(QTest::Click, name, Qt::Key_unknown, QString(key),
                                        Qt::NoModifier);
                }
                QTest::keyClick(name, Qt::Key_Return);
            }
        });
        NSString chosen;
        const int result = RunOpenDialog(NSString(dir.path()), nullptr, nullptr, &chosen);
        EXPECT_EQ(result, c.chosen.empty() ? NSCancelButton : NSOKButton);
        EXPECT_EQ(chosen.UTF8String(), c.chosen.empty() ? "" : dir.path() + "/" + c.chosen);
        EXPECT_EQ(refusals, c.chosen.empty() && c.typed ? 1 : 0);
    }
}

// The alert box, answered by keys: Enter gives the default button, Escape the alternate one
// where there is one, never OK on a question. Both texts show plain, never as markup.
TEST_F(MainWindowTest, TheAlertBoxAnswersEnterWithItsDefaultAndEscapeWithItsAlternate) {
    window_->show();
    const struct Case {
        const char* alternate;
        Qt::Key key;
        int answer;
    } cases[] = {
        {"Cancel", Qt::Key_Escape, 0},
        {"Cancel", Qt::Key_Return, 1},
        {nullptr, Qt::Key_Escape, 1},
        {nullptr, Qt::Key_Return, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.alternate != nullptr) << " " << c.key);
        std::vector<QString> seen;
        Person person([&](QWidget* modal) {
            for (const char* name : {"qt_msgbox_label", "qt_msgbox_informativelabel"}) {
                auto* label = modal->findChild<QLabel*>(QString::fromLatin1(name));
                if (label != nullptr && label->textFormat() == Qt::PlainText) {
                    seen.push_back(label->text());
                }
            }
            QTest::keyClick(modal, c.key);
        });
        EXPECT_EQ(RunAlertBox(NSString("Title"), NSString("Write <i>now</i>?"), "OK", c.alternate,
                              nullptr, NSString("/home/me/<b>x</b>.bin\n4 bytes")),
                  c.answer);
        EXPECT_EQ(seen,
                  (std::vector<QString>{"Write <i>now</i>?", "/home/me/<b>x</b>.bin\n4 bytes"}));
    }
}

// Each outlet is a widget of its kind; the per-target controls are found once each by their tag
// in their container, and nothing else carries a tag.
TEST_F(MainWindowTest, EveryOutletIsAWidgetOfItsKind) {
    EXPECT_EQ(window_->property("nibOwner").toString(), "SC820Controller");
    EXPECT_NE(dynamic_cast<NSWindow*>(NSOutletObjectForWidget(window_.get())), nullptr);
    for (const char* name : {"out_verSCSIConfigration", "out_verConfigurateionDriver",
                             "out_verSCSIBIOS", "out_verPCB"}) {
        auto* edit = child<QLineEdit>(name);
        ASSERT_NE(edit, nullptr) << name;
        EXPECT_TRUE(edit->isReadOnly()) << name;
        EXPECT_NE(dynamic_cast<NSTextField*>(NSOutletObjectForWidget(edit)), nullptr) << name;
    }
    // The password dialog is a hidden window of its own.
    auto* dialog = child<QDialog>("dlgPassword");
    ASSERT_NE(dialog, nullptr);
    window_->show();
    EXPECT_TRUE(dialog->isWindow() && !dialog->isVisible());
    EXPECT_EQ(child<QLineEdit>("txtPassword")->echoMode(), QLineEdit::Password);
    const QStringList rates = {"40 MB/s",   "26.6 MB/s", "20 MB/s", "16 MB/s",
                               "13.3 MB/s", "11.4 MB/s", "10 MB/s", "8 MB/s",
                               "6.6 MB/s",  "5.7 MB/s",  "5 MB/s"};
    NSView* box = container();
    ASSERT_NE(box, nullptr);
    std::set<NSView*> found;
    for (long tag = 100; tag < 416; tag += tag % 100 == 15 ? 85 : 1) {
        NSView* view = box->viewWithTag(tag);
        ASSERT_NE(view, nullptr) << tag;
        EXPECT_EQ(WidgetTag(WidgetForObject(view)), tag);
        EXPECT_EQ(view->superview(), box) << tag;
        EXPECT_TRUE(found.insert(view).second) << tag;
        if (tag >= 200) {
            EXPECT_NE(dynamic_cast<NSButton*>(view), nullptr) << tag;
            EXPECT_NE(qobject_cast<QCheckBox*>(WidgetForObject(view)), nullptr) << tag;
            continue;
        }
        ASSERT_NE(dynamic_cast<NSPopUpButton*>(view), nullptr) << tag;
        auto* items = qobject_cast<QComboBox*>(WidgetForObject(view));
        QStringList texts;
        for (int k = 0; k < items->count(); ++k) texts << items->itemText(k);
        EXPECT_EQ(texts, rates) << tag;
    }
    EXPECT_EQ(found.size(), 64u);
    EXPECT_EQ(box->viewWithTag(116), nullptr);
    int tagged = 0;
    for (QWidget* widget : window_->findChildren<QWidget*>()) {
        tagged += widget->property("tag").isValid();
    }
    EXPECT_EQ(tagged, 64);
    // Selecting outside a list's items selects none.
    auto* list = dynamic_cast<NSPopUpButton*>(box->viewWithTag(100));
    for (const auto& [index, selected] :
         {std::pair{3, 3}, {-1, -1}, {10, 10}, {11, -1}, {-7, -1}}) {
        list->selectItemAtIndex(5);
        list->selectItemAtIndex(index);
        EXPECT_EQ(list->indexOfSelectedItem(), selected) << index;
    }
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
    // Through the controls the utility uses: setState turns a button on and its partner off,
    // and off even when it is the only one on, which Qt alone would keep.
    NSButton* enabled = button(child("out_parity_E"));
    NSButton* disabled = button(child("out_parity_D"));
    disabled->setState(1);
    enabled->setState(1);
    EXPECT_EQ(disabled->state(), 0);
    enabled->setState(0);
    EXPECT_EQ(enabled->state(), 0);
    EXPECT_EQ(disabled->state(), 0);
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
        auto transcript = std::make_unique<Transcript>(
            ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), true);
        automation_ = std::make_unique<Automation>(std::move(*script), std::move(transcript),
                                                   [](int status) { throw Exited{status}; });
        automation_->attach(window_.get(), {"out_window", "out_hostSCSIID", "out_parity_E",
                                            "out_parity_D", "out_verPCB", "dlgPassword"});
    }
    std::vector<std::string> lines() const {
        std::istringstream in(ReadFileBytes(path_));
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    // Runs idle steps until the script ends the run; returns the exit status.
    int runToEnd() {
        try {
            for (int i = 0; i < 100; ++i) automation_->runIdleStep();
        } catch (const Exited& exited) {
            return exited.status;
        }
        ADD_FAILURE() << "the script did not end the run";
        return -1;
    }

    TempDir dir_;
    std::string path_;
    std::unique_ptr<Automation> automation_;
};

TEST_F(AutomationTest, QuestionsTakeTheAnswerAndAreRecorded) {
    start("answer 1\nanswer 0\nanswer 1\nchoose /images/bios.rom\nchoose-cancel\nchoose a.rom\n");
    EXPECT_EQ(automation_->answerAlert("SC820 Utility", "Erase?", "OK", "Cancel"), 1);
    EXPECT_EQ(automation_->answerAlert("SC820 Utility", "Erase?", "OK", "Cancel"), 0);
    EXPECT_EQ(automation_->answerAlert("SC820 Utility", "100% done %s %n\r\r/x", "OK", nullptr), 1);
    std::string chosen;
    EXPECT_EQ(automation_->answerPanel("/home/op", &chosen), 1);
    EXPECT_EQ(chosen, "/images/bios.rom");
    EXPECT_EQ(automation_->answerPanel("/home/op", &chosen), 0);
    EXPECT_EQ(automation_->answerPanel("/home/op", &chosen), 1);
    EXPECT_EQ(chosen, "/home/op/a.rom");
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "alert\tSC820 Utility\tErase?\tOK\tCancel\t1",
                           "alert\tSC820 Utility\tErase?\tOK\tCancel\t0",
                           "alert\tSC820 Utility\t100% done %s %n\\r\\r/x\tOK\t\t1",
                           "panel\t/home/op\t1\t/images/bios.rom",
                           "panel\t/home/op\t0\t",
                           "panel\t/home/op\t1\t/home/op/a.rom",
                       }));
}

TEST_F(AutomationTest, QuestionsThatTheScriptDoesNotAnswerEndWithStatus3) {
    const std::tuple<const char*, bool, const char*> cases[] = {
        {"", false, "script ended while an alert is open: Start?"},
        {"press ok\n", false, "line 1 (press ok): an alert is open and needs an answer: Start?"},
        {"choose /x\n", false, "line 1 (choose /x): an alert is open"},
        {"", true, "script ended while an open panel is open in /home/op"},
        {"answer 1\n", true, "line 1 (answer 1): an open panel is open"},
    };
    for (const auto& [script, panel, error] : cases) {
        start(script);
        int status = 0;
        try {
            std::string chosen;
            panel ? automation_->answerPanel("/home/op", &chosen)
                  : automation_->answerAlert("SC820 Utility", "Start?", "OK", "Cancel");
        } catch (const Exited& exited) {
            status = exited.status;
        }
        EXPECT_EQ(status, 3) << script;
        ASSERT_EQ(lines().size(), 1u) << script;
        EXPECT_EQ(lines()[0].rfind(std::string("error\t") + error, 0), 0u) << lines()[0];
    }
}

TEST_F(AutomationTest, RunningOutWhileIdleEndsAndEndIsRecordedOnce) {
    start("");
    EXPECT_EQ(runToEnd(), 0);
    EXPECT_EQ(lines(), std::vector<std::string>{"end"});
    start("");
    automation_->recordTerminate();
    automation_->recordEnd();  // the run already ended
    EXPECT_EQ(lines(), std::vector<std::string>{"terminate"});
}

TEST_F(AutomationTest, IdleStepsActOnTheControls) {
    start(
        "select out_hostSCSIID 7\nselect tag:105 10\nselect tag:106 -1\n"
        "set out_parity_D 1\nset tag:203 1\ndump\n");
    auto* parityE = child<QRadioButton>("out_parity_E");
    parityE->setChecked(true);
    child<QComboBox>("out_hostSCSIID")->setCurrentIndex(0);
    qobject_cast<QComboBox*>(WidgetWithTag(window_.get(), 106))->setCurrentIndex(3);
    auto* field = dynamic_cast<NSTextField*>(NSViewForWidget(child("out_verPCB")));
    field->setStringValue(NSString("1.20\tx\\y"));
    EXPECT_EQ(runToEnd(), 0);

    EXPECT_EQ(child<QComboBox>("out_hostSCSIID")->currentIndex(), 7);
    EXPECT_FALSE(parityE->isChecked());  // the user's click turns the partner off
    std::vector<std::string> out = lines();
    ASSERT_EQ(out.size(), 4u + 64u + 1u);
    EXPECT_EQ(out[0], "control\tout_hostSCSIID\t7");
    EXPECT_EQ(out[1], "control\tout_parity_E\t0");
    EXPECT_EQ(out[2], "control\tout_parity_D\t1");
    EXPECT_EQ(out[3], "control\tout_verPCB\t1.20\\tx\\\\y");
    // Tagged controls follow in tag order.
    EXPECT_EQ(out[4], "control\ttag:100\t0");  // a new list shows its first item
    EXPECT_EQ(out[4 + 5], "control\ttag:105\t10");
    EXPECT_EQ(out[4 + 6], "control\ttag:106\t-1");
    EXPECT_EQ(out[4 + 16 + 3], "control\ttag:203\t1");
    EXPECT_EQ(out[4 + 63], "control\ttag:415\t0");
    EXPECT_EQ(out.back(), "end");
}

TEST_F(AutomationTest, IdleStepsThatCannotBeDoneEndWithStatus3) {
    const std::pair<const char*, const char*> cases[] = {
        {"answer 1\n", "line 1 (answer 1): no alert or open panel is open"},
        {"choose-cancel\n", "line 1 (choose-cancel): no alert or open panel is open"},
        {"select out_nothing 1\n", "line 1 (select out_nothing 1): no control out_nothing"},
        {"select tag:999 1\n", "line 1 (select tag:999 1): no control tag:999"},
        {"select out_parity_E 1\n",
         "line 1 (select out_parity_E 1): out_parity_E is not a pop-up list"},
        {"set out_hostSCSIID 1\n", "line 1 (set out_hostSCSIID 1): out_hostSCSIID is not a button"},
        {"dump\nset tag:100 1\n", "line 2 (set tag:100 1): tag:100 is not a button"},
        {"press erase\n", "line 1 (press erase): the button is disabled"},
    };
    child("out_erase")->setEnabled(false);
    for (const auto& [script, error] : cases) {
        start(script);
        EXPECT_EQ(runToEnd(), 3) << script;
        ASSERT_FALSE(lines().empty());
        EXPECT_EQ(lines().back(), std::string("error\t") + error);
    }
}

}  // namespace
