// What takes the user's part in the batch mode: an automated user, put over the batch mode's
// windowless backend by the automation layer, as a script is put over the window or the
// terminal. Alerts become one line each on standard error, naming the message key; questions
// are answered by the request (--yes, --no-backup) or on the terminal, and declined when nobody
// can answer.
#pragma once

#include <functional>
#include <string>

#include "platform/window/AppKit.h"
#include "platform/window/CommandLine.h"
#include "platform/window/automation/AutomatedUser.h"
#include "platform/window/batch/BatchMode.h"

class BatchUser : public AutomatedUser, public BatchOutcome {
public:
    BatchUser(const BatchRequest& request, std::string program);

    int answerAlert(const std::string& title, const std::string& message, const char* defaultButton,
                    const char* alternateButton, const char* otherButton,
                    const std::string& informativeText) override;
    // The open panel returns the request's file.
    int answerPanel(const std::string& directory, std::string* chosen) override;
    // The program ends: after a success, onSuccess runs.
    void recordTerminate() override;

    int status() const override;
    void fail(const std::string& line) override;
    void setOnSuccess(std::function<void()> action) override { onSuccess_ = std::move(action); }

private:
    int confirm(const std::string& key, const std::string& line);
    void report(const std::string& line) const;

    BatchRequest request_;
    std::string program_;
    bool failed_ = false;
    bool declined_ = false;
    std::function<void()> onSuccess_;
};
