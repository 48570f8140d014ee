// The administrator authorization: acquired once at start-up, held in mAuthRef for the life of
// the main window, freed when the window closes; and the password dialog's two actions.
#include "app/SC820Controller.h"
#include "driverctl/Pause.h"

namespace {

// The one right the driver tools need, and the environment of the second, non-interactive
// request. No value is ever filled in: both environment items always travel empty.
AuthorizationItem rights[] = {{"system.privilege.admin", 0, nullptr, 0}};
AuthorizationItem environment[] = {{"username", 0, nullptr, 0}, {"password", 0, nullptr, 0}};
AuthorizationRights rightSet = {1, rights};
AuthorizationEnvironment environmentSet = {2, environment};

}  // namespace

// The statuses are not examined: a refused or cancelled authentication shows only in that the
// privileged tools later fail to start, and start-up goes on in every case.
void SC820Controller::acquireRights() {
    AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &mAuthRef);
    BusyPause(kStartupPauseCount);
    AuthorizationCopyRights(mAuthRef, &rightSet, nullptr,
                            kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights,
                            nullptr);
    BusyPause(kStartupPauseCount);
    AuthorizationCopyRights(mAuthRef, &rightSet, &environmentSet, kAuthorizationFlagExtendRights,
                            nullptr);
}

void SC820Controller::freeAuthorization() {
    AuthorizationFree(mAuthRef, kAuthorizationFlagDestroyRights);
    // The reference is gone; keeping it would leave a dangling handle in the controller.
    mAuthRef = nullptr;
}

void SC820Controller::dlgOk(id) {
    NSApp->stopModal();
}

void SC820Controller::dlgCancel(id) {
    NSApp->abortModal();
    NSApp->terminate(this, kExitDeclined);
}
