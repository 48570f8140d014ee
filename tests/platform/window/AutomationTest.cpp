// The automation engine in-process, over the real main window description: questions take the
// next step, idle steps act on the controls, and every way a script can go wrong ends the run
// with an error line and status 3.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QRadioButton>
#include <memory>
#include <sstream>

#include "platform/window/Automation.h"
#include "platform/window/NibLoader.h"
#include "platform/window/QtControls.h"
#include "tests/platform/window/QtTestApp.h"
#include "tests/support/TempHost.h"

namespace {

struct Exited {
    int status;
};

class AutomationTest : public ::testing::Test {
protected:
    void SetUp() override {
        QtTestApp();
        QString error;
        window_ = LoadWindowDescription(kMainWindowDescription, &error);
        ASSERT_TRUE(window_) << error.toStdString();
    }
    void TearDown() override {
        automation_.reset();
        window_.reset();
    }

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
    template <typename T = QWidget>
    T* child(const char* name) {
        return window_->findChild<T*>(QString::fromLatin1(name));
    }

    TempDir dir_;
    std::string path_;
    std::unique_ptr<QWidget> window_;
    std::unique_ptr<Automation> automation_;
};

TEST_F(AutomationTest, AlertTakesTheAnswerAndIsRecorded) {
    start("answer 1\nanswer 0\nanswer 7\n");
    EXPECT_EQ(automation_->answerAlert("SC820 Utility", "Erase?", "OK", "Cancel"), 1);
    EXPECT_EQ(automation_->answerAlert("SC820 Utility", "Erase?", "OK", "Cancel"), 0);
    EXPECT_EQ(automation_->answerAlert("SC820 Utility", "100% done %s %n\r\r/x", "OK", nullptr), 7);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "alert\tSC820 Utility\tErase?\tOK\tCancel\t1",
                           "alert\tSC820 Utility\tErase?\tOK\tCancel\t0",
                           "alert\tSC820 Utility\t100% done %s %n\\r\\r/x\tOK\t\t7",
                       }));
}

TEST_F(AutomationTest, PanelTakesChooseOrCancel) {
    start("choose /images/bios.rom\nchoose-cancel\nchoose relative.rom\n");
    std::string chosen;
    EXPECT_EQ(automation_->answerPanel("/home/op", &chosen), 1);
    EXPECT_EQ(chosen, "/images/bios.rom");
    EXPECT_EQ(automation_->answerPanel("/home/op", &chosen), 0);
    EXPECT_EQ(automation_->answerPanel("/home/op", &chosen), 1);
    EXPECT_EQ(chosen, "/home/op/relative.rom");
    EXPECT_EQ(lines(), (std::vector<std::string>{"panel\t/home/op\t1\t/images/bios.rom",
                                                 "panel\t/home/op\t0\t",
                                                 "panel\t/home/op\t1\t/home/op/relative.rom"}));
}

TEST_F(AutomationTest, QuestionsThatTheScriptDoesNotAnswer) {
    struct Case {
        const char* script;
        bool panel;
        const char* error;
    };
    const Case cases[] = {
        {"", false, "script ended while an alert is open: Start?"},
        {"press ok\n", false, "line 1 (press ok): an alert is open and needs an answer: Start?"},
        {"choose /x\n", false, "line 1 (choose /x): an alert is open"},
        {"", true, "script ended while an open panel is open in /home/op"},
        {"answer 1\n", true, "line 1 (answer 1): an open panel is open"},
    };
    for (const Case& c : cases) {
        start(c.script);
        int status = 0;
        try {
            std::string chosen;
            if (c.panel) {
                automation_->answerPanel("/home/op", &chosen);
            } else {
                automation_->answerAlert("SC820 Utility", "Start?", "OK", "Cancel");
            }
        } catch (const Exited& exited) {
            status = exited.status;
        }
        EXPECT_EQ(status, 3) << c.script;
        ASSERT_EQ(lines().size(), 1u) << c.script;
        EXPECT_EQ(lines()[0].rfind(std::string("error\t") + c.error, 0), 0u) << lines()[0];
    }
}

TEST_F(AutomationTest, RunningOutWhileIdleEnds) {
    start("");
    EXPECT_EQ(runToEnd(), 0);
    EXPECT_EQ(lines(), std::vector<std::string>{"end"});
}

TEST_F(AutomationTest, IdleStepsActOnTheControls) {
    start(
        "select out_hostSCSIID 7\n"
        "select tag:105 10\n"
        "select tag:106 -1\n"
        "set out_parity_D 1\n"
        "set tag:203 1\n"
        "dump\n");
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

TEST_F(AutomationTest, PressClicksTheButtonOfTheAction) {
    const char* names[] = {"default", "erase", "write", "ok", "cancel"};
    for (const char* name : names) {
        start(std::string("press ") + name + "\n");
        std::string clicked;
        std::vector<QMetaObject::Connection> connections;
        for (QAbstractButton* button : window_->findChildren<QAbstractButton*>()) {
            connections.push_back(
                QObject::connect(button, &QAbstractButton::clicked, button, [&clicked, button] {
                    clicked = button->property("action").toString().toStdString();
                }));
        }
        EXPECT_EQ(runToEnd(), 0);
        EXPECT_EQ(clicked, std::string("act_") + name + ":");
        for (const auto& connection : connections) QObject::disconnect(connection);
    }
}

TEST_F(AutomationTest, IdleStepsThatCannotBeDone) {
    struct Case {
        const char* script;
        const char* error;
    };
    const Case cases[] = {
        {"answer 1\n", "error\tline 1 (answer 1): no alert or open panel is open"},
        {"choose-cancel\n", "error\tline 1 (choose-cancel): no alert or open panel is open"},
        {"select out_nothing 1\n", "error\tline 1 (select out_nothing 1): no control out_nothing"},
        {"select tag:999 1\n", "error\tline 1 (select tag:999 1): no control tag:999"},
        {"select out_parity_E 1\n",
         "error\tline 1 (select out_parity_E 1): out_parity_E is not a pop-up list"},
        {"set out_hostSCSIID 1\n",
         "error\tline 1 (set out_hostSCSIID 1): out_hostSCSIID is not a button"},
        {"dump\nset tag:100 1\n", "error\tline 2 (set tag:100 1): tag:100 is not a button"},
    };
    for (const Case& c : cases) {
        start(c.script);
        EXPECT_EQ(runToEnd(), 3) << c.script;
        ASSERT_FALSE(lines().empty());
        EXPECT_EQ(lines().back(), c.error);
    }
}

TEST_F(AutomationTest, PressingADisabledButtonIsAnError) {
    start("press erase\n");
    child("out_erase")->setEnabled(false);
    EXPECT_EQ(runToEnd(), 3);
    EXPECT_EQ(lines().back(), "error\tline 1 (press erase): the button is disabled");
}

TEST_F(AutomationTest, TerminateAndEndAreRecordedOnce) {
    start("");
    automation_->recordTerminate();
    automation_->recordEnd();  // the run already ended
    EXPECT_EQ(lines(), std::vector<std::string>{"terminate"});
}

}  // namespace
