#include "platform/window/QtBackend.h"

#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <cstdio>

#include "platform/window/ExitCleanup.h"

QtBackend& QtBackend::shared() {
    static QtBackend backend;
    return backend;
}

Automation* QtBackend::automation() {
    if (!automationRead_) {
        automationRead_ = true;
        automation_ = Automation::fromEnvironment();
    }
    return automation_.get();
}

int QtBackend::runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                        const char* alternateButton, const char* otherButton,
                        const NSString& informativeText) {
    if (Automation* automated = automation()) {
        return automated->answerAlert(title.UTF8String(), message.UTF8String(),
                                      defaultButton != nullptr ? defaultButton : "OK",
                                      alternateButton, informativeText.UTF8String());
    }
    return RunAlertBox(title, message, defaultButton, alternateButton, otherButton,
                       informativeText);
}

int QtBackend::runOpenPanel(const NSString& directory, const NSString* file,
                            const std::vector<NSString>* types, NSString* chosen) {
    if (Automation* automated = automation()) {
        std::string path;
        int result = automated->answerPanel(directory.UTF8String(), &path);
        if (result == NSOKButton) *chosen = NSString(path);
        return result;
    }
    return RunOpenDialog(directory, file, types, chosen);
}

void QtBackend::terminate(int exitStatus) {
    if (Automation* automated = automation()) automated->recordTerminate();
    RunExitCleanups();
    std::fflush(nullptr);
    _exit(exitStatus);
}

namespace {

// Ends the innermost modal dialog's loop, if one runs.
void EndModalDialog(bool accepted) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return;
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    if (accepted) {
        dialog->accept();
    } else {
        dialog->reject();
    }
}

}  // namespace

void QtBackend::stopModal() {
    EndModalDialog(true);
}

void QtBackend::abortModal() {
    EndModalDialog(false);
}
