// Takes the user's part in unit tests: answers alerts and open panels from queues, records
// what was shown, and turns terminate into an exception that the test catches.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/window/AppKit.h"

struct Terminated {};

struct ShownAlert {
    std::string title, message, defaultButton, alternateButton;  // "": no alternate button
};

class RecordingBackend : public NSApplicationBackend {
public:
    RecordingBackend() : previous_(NSApplicationSetBackend(this)) {}
    ~RecordingBackend() override { NSApplicationSetBackend(previous_); }

    std::deque<int> alertAnswers;          // an alert with no queued answer gets 1
    std::deque<std::string> panelChoices;  // "" means the user cancels the panel
    std::vector<ShownAlert> alerts;
    int terminateCount = 0;

    int runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                 const char* alternateButton, const char*, const NSString&) override;
    int runOpenPanel(const NSString&, const NSString*, const std::vector<NSString>*,
                     NSString* chosen) override;
    [[noreturn]] void terminate(int) override {
        ++terminateCount;
        throw Terminated{};
    }
    void stopModal() override {}
    void abortModal() override {}

private:
    NSApplicationBackend* previous_;
};
