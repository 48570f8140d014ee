#include "tests/support/RecordingBackend.h"

RecordingBackend::RecordingBackend() : previous_(NSApplicationSetBackend(this)) {}

RecordingBackend::~RecordingBackend() {
    NSApplicationSetBackend(previous_);
}

std::vector<std::string> RecordingBackend::alertMessages() const {
    std::vector<std::string> messages;
    for (const auto& a : alerts) messages.push_back(a.message);
    return messages;
}

int RecordingBackend::runAlert(const NSString& title, const NSString& message,
                               const char* defaultButton, const char* alternateButton,
                               const char* otherButton, const NSString& informativeText) {
    int answer = 1;
    if (!alertAnswers.empty()) {
        answer = alertAnswers.front();
        alertAnswers.pop_front();
    }
    alerts.push_back({title.UTF8String(), message.UTF8String(), defaultButton ? defaultButton : "",
                      alternateButton ? alternateButton : "", otherButton ? otherButton : "",
                      answer, informativeText.UTF8String()});
    return answer;
}

int RecordingBackend::runOpenPanel(const NSString& directory, const NSString*,
                                   const std::vector<NSString>*, NSString* chosen) {
    panelDirectories.push_back(directory.UTF8String());
    if (panelChoices.empty() || panelChoices.front().empty()) {
        if (!panelChoices.empty()) panelChoices.pop_front();
        return NSCancelButton;
    }
    *chosen = NSString(panelChoices.front());
    panelChoices.pop_front();
    return NSOKButton;
}

void RecordingBackend::terminate(int status) {
    ++terminateCount;
    exitStatus = status;
    throw Terminated{};
}
