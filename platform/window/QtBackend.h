// The default backend: the window's dialogs, for a person at the display.
#pragma once

#include "platform/window/AppKit.h"

class QtBackend : public NSApplicationBackend {
public:
    static QtBackend& shared();

    int runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                 const char* alternateButton, const char* otherButton,
                 const NSString& informativeText) override;
    int runOpenPanel(const NSString& directory, const NSString* file,
                     const std::vector<NSString>* types, NSString* chosen) override;
    void stopModal() override;
    void abortModal() override;
};
