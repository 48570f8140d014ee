#include "tests/support/RecordingBackend.h"

int RecordingBackend::runAlert(const NSString& title, const NSString& message,
                               const char* defaultButton, const char* alternateButton, const char*,
                               const NSString&) {
    const int answer = alertAnswers.empty() ? 1 : alertAnswers.front();
    if (!alertAnswers.empty()) alertAnswers.pop_front();
    alerts.push_back({title.UTF8String(), message.UTF8String(), defaultButton ? defaultButton : "",
                      alternateButton ? alternateButton : ""});
    return answer;
}

int RecordingBackend::runOpenPanel(const NSString&, const NSString*, const std::vector<NSString>*,
                                   NSString* chosen) {
    const std::string choice = panelChoices.empty() ? "" : panelChoices.front();
    if (!panelChoices.empty()) panelChoices.pop_front();
    if (choice.empty()) return NSCancelButton;
    *chosen = NSString(choice);
    return NSOKButton;
}
