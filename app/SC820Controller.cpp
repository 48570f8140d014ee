// The controller's life: creation, the OK and Cancel actions, closing, teardown.
#include "app/SC820Controller.h"

#include "app/Messages.h"

SC820Controller* SC820Controller::init() {
    return this;
}

void SC820Controller::dealloc() {
    // Frees neither the authorization nor a connection: the program ends right after.
}

void SC820Controller::act_ok(id /*sender*/) {}

// Quitting without storing is a way out the user chose, not a failure.
void SC820Controller::act_cancel(id /*sender*/) {
    NSApp->terminate(this, kExitSuccess);
}

int SC820Controller::windowShouldClose(id /*sender*/) {
    getConfigWindow();
    // Declining to store without a copy keeps the window open, as a refused store does.
    if (!keepRecordCopy()) return 0;
    if (doSetEEPConfig() == 0) {
        // The card refused the record: nothing is lost, the window stays open with the form as
        // the user left it, and closing again retries.
        ShowAlert(MSG_STOREFAIL, AlertButtons::ok);
        return 0;
    }
    ShowAlert(MSG_SUCCESS, AlertButtons::ok);
    freeAuthorization();
    NSApp->terminate(this, kExitSuccess);
}
