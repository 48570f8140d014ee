// The automation layer: a backend that hands every question to the automated user and
// everything else to the backend that runs underneath (the window or the terminal).
#pragma once

#include "platform/window/AppKit.h"
#include "platform/window/automation/AutomatedUser.h"

class AutomatedBackend : public NSApplicationBackend {
public:
    AutomatedBackend(NSApplicationBackend& shown, AutomatedUser& user);

    int runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                 const char* alternateButton, const char* otherButton,
                 const NSString& informativeText) override;
    int runOpenPanel(const NSString& directory, const NSString* file,
                     const std::vector<NSString>* types, NSString* chosen) override;
    [[noreturn]] void terminate(int exitStatus) override;
    void stopModal() override;
    void abortModal() override;

private:
    NSApplicationBackend& shown_;
    AutomatedUser& user_;
};
