// The main window as the utility relies on it: its controls, its alert box and open panel taking
// the keys, and the automation engine in-process.
#include <fcntl.h>
#include <gtest/gtest.h>

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
#include <memory>

#include "platform/window/Dialogs.h"
#include "platform/window/NibLoader.h"
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

// Acts as the person at the window's modal boxes, while kept: each time one is up, `act` gets it.
std::unique_ptr<QTimer> Person(const std::function<void(QWidget*)>& act) {
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [act] {
        if (QWidget* modal = QApplication::activeModalWidget()) act(modal);
    });
    timer->start(10);
    return timer;
}

// The open panel, answered by keys: a typed name and Enter give the file chosen, byte for byte,
// also when its name is not UTF-8; a name that reads the same as another one's in its folder is
// refused and the panel stays open; Escape cancels.
TEST_F(MainWindowTest, TheOpenPanelGivesTheFileTypedByteForByteAndEscapeCancels) {
    const struct Case {
        std::vector<std::string> files;
        std::string chosen;  // empty: refused (when typed), then cancelled
        bool typed = true;
    } cases[] = {
        {{"img\xFF.bin"}, "img\xFF.bin"},
        {{"img\xEF\xBF\xBD.bin"}, "img\xEF\xBF\xBD.bin"},
        {{"img\xFF.bin", "img\xEF\xBF\xBD.bin"}, ""},
        {{"bios.rom"}, "", false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        for (const std::string& file : c.files) WriteFileBytes(dir.path() + "/" + file, "image");
        int refusals = 0;
        bool typed = !c.typed;
        const auto person = Person([&](QWidget* modal) {
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
                                                 {nullptr, Qt::Key_Escape, 1}}) {
        std::vector<QString> seen;
        const auto person = Person([&, key = key](QWidget* modal) {
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

// Through the controls the utility uses: a tag that no control has finds nothing, a position
// outside a list selects nothing, and a button's state is its own.
TEST_F(MainWindowTest, TheControlsFindSelectAndSetOnlyWhatTheyAreGiven) {
    NSView* box = NSViewForWidget(child("out_hostSCSIID"))->superview();
    EXPECT_EQ(box->viewWithTag(116), nullptr);
    auto* list = dynamic_cast<NSPopUpButton*>(box->viewWithTag(100));
    for (const auto& [index, selected] :
         {std::pair{3, 3}, {-1, -1}, {10, 10}, {11, -1}, {-7, -1}}) {
        list->selectItemAtIndex(5);
        list->selectItemAtIndex(index);
        EXPECT_EQ(list->indexOfSelectedItem(), selected) << index;
    }
    // setState turns a button on and its partner off, and off even when it is the only one on,
    // which Qt alone would keep.
    auto* enabled = dynamic_cast<NSButton*>(NSViewForWidget(child("out_parity_E")));
    auto* disabled = dynamic_cast<NSButton*>(NSViewForWidget(child("out_parity_D")));
    disabled->setState(1);
    enabled->setState(1);
    EXPECT_EQ(disabled->state(), 0);
    enabled->setState(0);
    EXPECT_EQ(enabled->state() + disabled->state(), 0);
    EXPECT_TRUE(child<QRadioButton>("out_parity_E")->autoExclusive());
}

// What the script cannot do, or does not answer, ends the run with status 3 and says why. The
// engine runs over the main window in-process; the exit it is given throws, to see the status.
struct Exited {
    int status;
};

TEST_F(MainWindowTest, WhatTheScriptCannotDoEndsWithStatus3) {
    enum Open { none, alert, panel };
    const std::tuple<const char*, Open, const char*> cases[] = {
        {"", alert, "script ended while an alert is open: Start?"},
        {"press ok\n", alert, "line 1 (press ok): an alert is open and needs an answer: Start?"},
        {"choose /x\n", alert, "line 1 (choose /x): an alert is open"},
        {"", panel, "script ended while an open panel is open in /home/op"},
        {"answer 1\n", panel, "line 1 (answer 1): an open panel is open"},
        {"answer 1\n", none, "line 1 (answer 1): no alert or open panel is open"},
        {"select out_nothing 1\n", none, "line 1 (select out_nothing 1): no control out_nothing"},
        {"select out_parity_E 1\n", none,
         "line 1 (select out_parity_E 1): out_parity_E is not a pop-up list"},
        {"dump\nset tag:100 1\n", none, "line 2 (set tag:100 1): tag:100 is not a button"},
        {"press erase\n", none, "line 1 (press erase): the button is disabled"},
    };
    child("out_erase")->setEnabled(false);
    TempDir dir;
    const std::string path = dir.path() + "/transcript";
    for (const auto& [text, open, error] : cases) {
        std::string chosen;
        Automation automation(
            *AutomationScript::parse(text, &chosen),
            std::make_unique<Transcript>(
                ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), true),
            [](int status) { throw Exited{status}; });
        automation.attach(window_.get(), {"out_window", "out_hostSCSIID", "out_parity_E",
                                          "out_parity_D", "out_verPCB", "dlgPassword"});
        int status = -1;
        try {
            if (open == alert) automation.answerAlert("T", "Start?", "OK", "Cancel");
            if (open == panel) automation.answerPanel("/home/op", &chosen);
            for (int i = 0; i < 100; ++i) automation.runIdleStep();
        } catch (const Exited& exited) {
            status = exited.status;
        }
        EXPECT_EQ(status, 3) << text;
        const std::string transcript = ReadFileBytes(path);
        const std::string last =
            transcript.substr(transcript.rfind('\n', transcript.size() - 2) + 1);
        EXPECT_EQ(last.rfind(std::string("error\t") + error, 0), 0u) << last;
    }
}

}  // namespace
