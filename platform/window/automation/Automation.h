// Takes the user's part from an automation script (SC820_AUTOMATION) and writes what the user
// would have seen to the transcript (SC820_TRANSCRIPT, else standard error). A question (an
// alert or an open panel) takes the next step, which must answer it; when the program is idle
// the next step is an action on the main window, run from the event loop. A step that does
// not fit, or a script that ends while a question is open, ends the program with an `error`
// line and status 3; a script that ends while the program is idle ends it with `end` and
// status 0, storing nothing, as Cancel would.
//
// Transcript lines (Transcript.h): `alert TITLE MESSAGE DEFAULT ALTERNATE ANSWER`, followed by
// `informative TEXT` when the alert has an informative text beneath its message;
// `panel DIRECTORY RESULT FILE`; `control NAME VALUE` (from `dump`); `rights-freed STATUS`
// (the program gave its administrator rights back); `terminate`; `end`; `error TEXT`.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/window/ExitStatus.h"
#include "platform/window/automation/AutomatedUser.h"
#include "platform/window/automation/AutomationScript.h"
#include "platform/window/automation/Transcript.h"

class Automation : public AutomatedUser {
public:
    // Ends the program with the status; it does not return. Tests may pass one that throws.
    using Exit = std::function<void(int status)>;
    static void ExitProcess(int status);
    static constexpr int kScriptFailureStatus = kExitScriptError;

    Automation(AutomationScript script, std::unique_ptr<Transcript> transcript,
               Exit exit = ExitProcess);

    // The automation named by SC820_AUTOMATION, or null when it is not set. A script that
    // cannot be read, or holds a line that is not a step, ends the program with status 3.
    static std::unique_ptr<Automation> fromEnvironment();

    // An informative text, when not empty, is written as an `informative` line after the
    // alert's line. An answer that none of the alert's buttons gives (0 without an alternate
    // button, -1 without an other button, anything but 1, 0 or -1) fails the script.
    int answerAlert(const std::string& title, const std::string& message, const char* defaultButton,
                    const char* alternateButton, const char* otherButton = nullptr,
                    const std::string& informativeText = {}) override;
    // Returns 1 (a file chosen, *chosen set) or 0 (cancelled).
    int answerPanel(const std::string& directory, std::string* chosen) override;

    // The main window that idle steps act on, and the controller's outlets in their order
    // (for `dump`).
    void attach(QWidget* window, std::vector<std::string> outletNames) override;
    // The first idle step runs once the event loop runs.
    void start() override { scheduleIdleStep(); }
    // Runs the next idle step from the event loop, once control returns to it.
    void scheduleIdleStep();
    void runIdleStep();

    void recordTerminate() override;
    // The event loop has ended without a terminate.
    void recordEnd() override;
    [[noreturn]] void fail(const std::string& text);

private:
    [[noreturn]] void finish(int status);
    void perform(const ScriptStep& step);
    void press(const ScriptStep& step);
    void select(const ScriptStep& step);
    void set(const ScriptStep& step);
    void dump();
    QWidget* control(const ScriptStep& step);
    static std::string where(const ScriptStep& step);

    AutomationScript script_;
    std::unique_ptr<Transcript> transcript_;
    Exit exit_;
    QPointer<QWidget> window_;
    std::vector<std::string> outletNames_;
    bool ended_ = false;
};
