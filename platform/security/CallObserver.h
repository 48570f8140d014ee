// What the authorization stand-in tells an observer about each call it answers: the operation,
// its flags, the status returned and a detail. Test support records the calls to check their
// order and flags without a real privilege prompt; a scripted run's automation writes the
// freeing of the rights to its transcript. Internal to the stand-in; the utility never sees it.
#pragma once

#include <string>

#include "platform/security/Security.h"

struct AuthorizationCall {
    std::string operation;  // "create", "copy-rights", "execute", "free"
    AuthorizationFlags flags;
    OSStatus status;
    std::string detail;  // copy-rights: "environment=N" items; execute: the tool path
};

using AuthorizationCallObserver = void (*)(const AuthorizationCall& call);
// Installs the observer (null: none) and returns the previous one.
AuthorizationCallObserver SetAuthorizationCallObserver(AuthorizationCallObserver observer);
