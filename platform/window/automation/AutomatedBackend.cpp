#include "platform/window/automation/AutomatedBackend.h"

#include <cstdlib>

AutomatedBackend::AutomatedBackend(NSApplicationBackend& shown, AutomatedUser& user)
    : shown_(shown), user_(user) {}

int AutomatedBackend::runAlert(const NSString& title, const NSString& message,
                               const char* defaultButton, const char* alternateButton,
                               const char* otherButton, const NSString& informativeText) {
    return user_.answerAlert(title.UTF8String(), message.UTF8String(),
                             defaultButton != nullptr ? defaultButton : "OK", alternateButton,
                             otherButton, informativeText.UTF8String());
}

int AutomatedBackend::runOpenPanel(const NSString& directory, const NSString*,
                                   const std::vector<NSString>*, NSString* chosen) {
    std::string path;
    int result = user_.answerPanel(directory.UTF8String(), &path);
    if (result == NSOKButton) *chosen = NSString(path);
    return result;
}

void AutomatedBackend::terminate(int exitStatus) {
    user_.recordTerminate();
    shown_.terminate(exitStatus);
    std::abort();  // a backend's terminate never returns
}

void AutomatedBackend::stopModal() {
    shown_.stopModal();
}

void AutomatedBackend::abortModal() {
    shown_.abortModal();
}
