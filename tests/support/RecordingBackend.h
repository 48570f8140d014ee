// Takes the user's part in unit tests: answers alerts and open panels from queues, records
// what was shown, and turns terminate into an exception that the test catches.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/window/AppKit.h"

struct Terminated {};

struct ShownAlert {
    std::string title;
    std::string message;
    std::string defaultButton;
    std::string alternateButton;  // empty when there is none
    std::string otherButton;
    int answer;
    std::string informativeText;  // empty when there is none
};

class RecordingBackend : public NSApplicationBackend {
public:
    RecordingBackend();
    ~RecordingBackend() override;

    std::deque<int> alertAnswers;          // an alert with no queued answer gets 1
    std::deque<std::string> panelChoices;  // "" means the user cancels the panel
    std::vector<ShownAlert> alerts;
    std::vector<std::string> panelDirectories;
    int terminateCount = 0;
    int exitStatus = -1;  // the status of the last terminate
    int stopModalCount = 0;
    int abortModalCount = 0;

    // The message keys as shown; works when no string table is installed (keys come back).
    std::vector<std::string> alertMessages() const;

    int runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                 const char* alternateButton, const char* otherButton,
                 const NSString& informativeText) override;
    int runOpenPanel(const NSString& directory, const NSString* file,
                     const std::vector<NSString>* types, NSString* chosen) override;
    [[noreturn]] void terminate(int status) override;
    void stopModal() override { ++stopModalCount; }
    void abortModal() override { ++abortModalCount; }

private:
    NSApplicationBackend* previous_;
};
