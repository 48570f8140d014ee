#include "platform/window/QtBackend.h"

#include <QApplication>
#include <QDialog>

#include "platform/window/Dialogs.h"

QtBackend& QtBackend::shared() {
    static QtBackend backend;
    return backend;
}

int QtBackend::runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                        const char* alternateButton, const char* otherButton,
                        const NSString& informativeText) {
    return RunAlertBox(title, message, defaultButton, alternateButton, otherButton,
                       informativeText);
}

int QtBackend::runOpenPanel(const NSString& directory, const NSString* file,
                            const std::vector<NSString>* types, NSString* chosen) {
    return RunOpenDialog(directory, file, types, chosen);
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
