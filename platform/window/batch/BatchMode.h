// The batch mode: the third front end. The controller runs its whole start-up over in-memory
// controls, then one action. Nothing is shown: the batch mode's automated user (automation/
// BatchUser.h), put over the windowless backend at the program's start, answers the questions,
// reports the alerts and keeps the outcome, which the exit status tells.
#pragma once

#include <functional>
#include <string>

#include "platform/window/AppKit.h"
#include "platform/window/CommandLine.h"

// The outcome of a batch run, kept by whoever answers its questions.
class BatchOutcome {
public:
    virtual ~BatchOutcome() = default;
    // Success, failure (a failure alert, a refused copy) or declined, as an exit status.
    virtual int status() const = 0;
    // A failure that no alert reported (a file that cannot be written, a refused flash read).
    virtual void fail(const std::string& line) = 0;
    // What the program prints when it ends by terminate after a success.
    virtual void setOnSuccess(std::function<void()> action) = 0;
};

// The batch mode's backend: it shows nothing, and terminate ends the program with the
// outcome's status.
class BatchBackend : public NSApplicationBackend {
public:
    explicit BatchBackend(const BatchOutcome& outcome) : outcome_(outcome) {}

    int runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                 const char* alternateButton, const char* otherButton,
                 const NSString& informativeText) override;
    int runOpenPanel(const NSString& directory, const NSString* file,
                     const std::vector<NSString>* types, NSString* chosen) override;
    [[noreturn]] void terminate(int exitStatus) override;
    void stopModal() override {}
    void abortModal() override {}

private:
    const BatchOutcome& outcome_;
};

// Runs the request with the installed backend; returns the exit status.
int RunBatch(const BatchRequest& request, const std::string& program, BatchOutcome& outcome);
