// The application object, alerts and the open panel, all answered by the current backend.
#include <cstdlib>

#include "platform/window/AppKit.h"
#include "platform/window/QtBackend.h"

namespace {

NSApplicationBackend*& InstalledBackend() {
    static NSApplicationBackend* installed = nullptr;
    return installed;
}

NSApplicationBackend& CurrentBackend() {
    NSApplicationBackend* installed = InstalledBackend();
    return installed != nullptr ? *installed : QtBackend::shared();
}

NSApplication sharedApplication;

}  // namespace

NSApplication* NSApp = &sharedApplication;

NSApplicationBackend* NSApplicationSetBackend(NSApplicationBackend* backend) {
    NSApplicationBackend* previous = InstalledBackend();
    InstalledBackend() = backend;
    return previous;
}

void NSApplication::terminate(id, int exitStatus) {
    CurrentBackend().terminate(exitStatus);
    std::abort();  // a backend's terminate never returns
}

void NSApplication::stopModal() {
    CurrentBackend().stopModal();
}

void NSApplication::abortModal() {
    CurrentBackend().abortModal();
}

int NSRunAlertPanel(const NSString& title, const NSString& message, const char* defaultButton,
                    const char* alternateButton, const char* otherButton,
                    const NSString& informativeText) {
    return CurrentBackend().runAlert(title, message, defaultButton, alternateButton, otherButton,
                                     informativeText);
}

NSOpenPanel* NSOpenPanel::openPanel() {
    static NSOpenPanel panel;
    return &panel;
}

int NSOpenPanel::runModalForDirectory(const NSString& directory, const NSString* file,
                                      const std::vector<NSString>* types) {
    NSString chosen;
    int result = CurrentBackend().runOpenPanel(directory, file, types, &chosen);
    filename_ = result == NSOKButton ? chosen : NSString();
    return result;
}
