// The application object, alerts and the open panel, all answered by the current backend.
#include <cstdlib>

#include "platform/window/AppKit.h"
#include "platform/window/Interrupt.h"
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

void NSApplicationBackend::terminate(int exitStatus) {
    if (InterruptRequested() != 0) EndInterrupted();
    ExitProgram(exitStatus);
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
    // After a hang-up or an interrupt nobody may be there to answer: see Interrupt.h.
    if (InterruptRequested() == 0) {
        ModalRequest request;
        const int answer = CurrentBackend().runAlert(title, message, defaultButton, alternateButton,
                                                     otherButton, informativeText);
        if (InterruptRequested() == 0) return answer;
    }
    return InterruptedAlertAnswer(alternateButton);
}

NSOpenPanel* NSOpenPanel::openPanel() {
    static NSOpenPanel panel;
    return &panel;
}

int NSOpenPanel::runModalForDirectory(const NSString& directory, const NSString* file,
                                      const std::vector<NSString>* types) {
    NSString chosen;
    int result = NSCancelButton;
    if (InterruptRequested() == 0) {
        ModalRequest request;
        result = CurrentBackend().runOpenPanel(directory, file, types, &chosen);
        if (InterruptRequested() != 0) result = NSCancelButton;
    }
    filename_ = result == NSOKButton ? chosen : NSString();
    return result;
}
