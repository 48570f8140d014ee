// What takes the user's part in the batch mode. Alerts become one line each on standard error,
// naming the message key; confirmations are answered by the request or on the terminal, and
// declined when nobody can answer.
#pragma once

#include <functional>
#include <string>

#include "platform/window/AppKit.h"
#include "platform/window/CommandLine.h"

class BatchBackend : public NSApplicationBackend {
public:
    BatchBackend(const BatchRequest& request, std::string program);

    int runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                 const char* alternateButton, const char* otherButton) override;
    // The open panel returns the request's file.
    int runOpenPanel(const NSString& directory, const NSString* file,
                     const std::vector<NSString>* types, NSString* chosen) override;
    // Ends the program with the outcome's status; after a success, onSuccess runs first.
    [[noreturn]] void terminate() override;
    void stopModal() override {}
    void abortModal() override {}

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
