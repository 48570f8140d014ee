// The default backend: real Qt dialogs for a person at the display, or, when SC820_AUTOMATION
// names a script, the automation that takes the user's part without showing any dialog.
#pragma once

#include <memory>

#include "platform/window/AppKit.h"
#include "platform/window/automation/Automation.h"

class QtBackend : public NSApplicationBackend {
public:
    static QtBackend& shared();

    int runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                 const char* alternateButton, const char* otherButton,
                 const NSString& informativeText) override;
    int runOpenPanel(const NSString& directory, const NSString* file,
                     const std::vector<NSString>* types, NSString* chosen) override;
    [[noreturn]] void terminate(int exitStatus) override;
    void stopModal() override;
    void abortModal() override;

    // The automation of this run, or null when a person takes the user's part. Read from the
    // environment at the first call.
    Automation* automation();

private:
    bool automationRead_ = false;
    std::unique_ptr<Automation> automation_;
};

// The interactive dialogs.
int RunAlertBox(const NSString& title, const NSString& message, const char* defaultButton,
                const char* alternateButton, const char* otherButton,
                const NSString& informativeText);
int RunOpenDialog(const NSString& directory, const NSString* file,
                  const std::vector<NSString>* types, NSString* chosen);
