// What takes the user's part in the batch mode. Alerts become one line each on standard error,
// naming the message key; questions are answered by the request (--yes, --no-backup) or on the
// terminal, and declined when nobody can answer. It has the automated user's shape: questions
// and the program's end, nothing of how they are shown.
#pragma once

#include <functional>
#include <string>

#include "platform/window/AppKit.h"
#include "platform/window/CommandLine.h"

class BatchUser {
public:
    BatchUser(const BatchRequest& request, std::string program);

    // 1 the default button, 0 the alternate, -1 the other.
    int answerAlert(const std::string& title, const std::string& message, const char* defaultButton,
                    const char* alternateButton);
    // The open panel returns the request's file.
    int answerPanel(const std::string& directory, std::string* chosen);
    // The program ends: after a success, onSuccess runs.
    void recordTerminate();

    // The outcome so far: success, failure (a failure alert or a refused copy) or declined.
    int status() const;
    // A failure that no alert reported (a file that cannot be written, a refused flash read).
    void fail(const std::string& line);
    std::function<void()> onSuccess;

private:
    int confirm(const std::string& key, const std::string& line);
    void report(const std::string& line) const;

    BatchRequest request_;
    std::string program_;
    bool failed_ = false;
    bool declined_ = false;
};

// The batch mode's backend: no window, the user's part taken by the batch user; terminate
// ends the program with the user's status.
class BatchBackend : public NSApplicationBackend {
public:
    explicit BatchBackend(BatchUser& user) : user_(user) {}

    int runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                 const char* alternateButton, const char* otherButton) override;
    int runOpenPanel(const NSString& directory, const NSString* file,
                     const std::vector<NSString>* types, NSString* chosen) override;
    [[noreturn]] void terminate() override;
    void stopModal() override {}
    void abortModal() override {}

private:
    BatchUser& user_;
};
