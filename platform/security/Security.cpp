// The authorization stand-in. Rights are granted by the emulated host's policy; a tool run with
// privileges is the host's own, run by the tool runner.
#include "platform/security/Security.h"

#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "emulator/Emulator.h"
#include "platform/security/CallObserver.h"
#include "platform/security/ToolRunner.h"

// What a reference holds: the names of the rights granted to it.
struct AuthorizationOpaqueRef {
    std::set<std::string> rights;
};

namespace {

constexpr const char kAdminRight[] = "system.privilege.admin";

// The service owns every reference it handed out until it is freed; a process that ends
// while holding one (as the utility does when it quits without closing its window) leaves it
// to the service, which lets it go with the process.
std::map<AuthorizationRef, std::unique_ptr<AuthorizationOpaqueRef>>& LiveRefs() {
    static std::map<AuthorizationRef, std::unique_ptr<AuthorizationOpaqueRef>> live;
    return live;
}

AuthorizationCallObserver& Observer() {
    static AuthorizationCallObserver observer = nullptr;
    return observer;
}

OSStatus Record(const char* operation, AuthorizationFlags flags, OSStatus status,
                std::string detail) {
    if (Observer() != nullptr) Observer()({operation, flags, status, std::move(detail)});
    return status;
}

bool IsLive(AuthorizationRef ref) {
    return ref != nullptr && LiveRefs().count(ref) != 0;
}

// ---------------------------------------------------------------------------------------------
// Rights

bool ValidSet(const AuthorizationRights* rights) {
    if (rights == nullptr || (rights->count > 0 && rights->items == nullptr)) return false;
    for (uint32_t i = 0; i < rights->count; ++i) {
        if (rights->items[i].name == nullptr) return false;
    }
    return true;
}

bool HoldsAll(AuthorizationRef ref, const AuthorizationRights& rights) {
    for (uint32_t i = 0; i < rights.count; ++i) {
        if (ref->rights.count(rights.items[i].name) == 0) return false;
    }
    return true;
}

// The host's answer to a request that needs the user; nothing when the host cannot be read.
std::optional<emu::AuthPolicy> HostPolicy() {
    std::string problem;
    std::optional<emu::AuthPolicy> policy =
        emu::KernelAuthorizationPolicy(emu::DefaultHostRoot(), &problem);
    if (!policy) std::cerr << "AuthorizationCopyRights: " << problem << "\n";
    return policy;
}

OSStatus Grant(AuthorizationRef ref, const AuthorizationRights& rights, AuthorizationFlags flags) {
    if (HoldsAll(ref, rights)) return errAuthorizationSuccess;
    if ((flags & kAuthorizationFlagInteractionAllowed) == 0)
        return errAuthorizationInteractionNotAllowed;
    std::optional<emu::AuthPolicy> policy = HostPolicy();
    if (!policy) return errAuthorizationInternal;
    switch (*policy) {
        case emu::AuthPolicy::deny:
            return errAuthorizationDenied;
        case emu::AuthPolicy::cancel:
            return errAuthorizationCanceled;
        case emu::AuthPolicy::allow:
            break;
    }
    for (uint32_t i = 0; i < rights.count; ++i) ref->rights.insert(rights.items[i].name);
    return errAuthorizationSuccess;
}

}  // namespace

OSStatus AuthorizationCreate(const AuthorizationRights* /*rights*/,
                             const AuthorizationEnvironment* /*environment*/,
                             AuthorizationFlags flags, AuthorizationRef* authorization) {
    if (authorization == nullptr)
        return Record("create", flags, errAuthorizationInvalidPointer, "");
    auto ref = std::make_unique<AuthorizationOpaqueRef>();
    *authorization = ref.get();
    LiveRefs().emplace(*authorization, std::move(ref));
    return Record("create", flags, errAuthorizationSuccess, "");
}

OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const AuthorizationEnvironment* environment,
                                 AuthorizationFlags flags, AuthorizationRights** authorizedRights) {
    std::string detail =
        "environment=" + std::to_string(environment != nullptr ? environment->count : 0);
    // No copy of the granted rights is handed out; the utility asks for none.
    if (authorizedRights != nullptr) *authorizedRights = nullptr;
    OSStatus status = errAuthorizationSuccess;
    if (!IsLive(authorization)) {
        status = errAuthorizationInvalidRef;
    } else if (!ValidSet(rights)) {
        status = errAuthorizationInvalidSet;
    } else {
        status = Grant(authorization, *rights, flags);
    }
    return Record("copy-rights", flags, status, detail);
}

OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            FILE** communicationsPipe) {
    std::string detail = pathToTool != nullptr ? pathToTool : "";
    if (communicationsPipe != nullptr) *communicationsPipe = nullptr;
    if (!IsLive(authorization))
        return Record("execute", options, errAuthorizationInvalidRef, detail);
    if (pathToTool == nullptr)
        return Record("execute", options, errAuthorizationInvalidPointer, detail);
    if (authorization->rights.count(kAdminRight) == 0)
        return Record("execute", options, errAuthorizationDenied, detail);
    std::optional<std::string> tool = security::ResolveTool(pathToTool);
    if (!tool) return Record("execute", options, errAuthorizationToolExecuteFailure, detail);
    OSStatus status =
        communicationsPipe != nullptr
            ? security::RunWithStream(*tool, pathToTool, arguments, communicationsPipe)
            : security::RunWithoutStream(*tool, pathToTool, arguments);
    return Record("execute", options, status, detail);
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags) {
    if (!IsLive(authorization)) return Record("free", flags, errAuthorizationInvalidRef, "");
    LiveRefs().erase(authorization);
    return Record("free", flags, errAuthorizationSuccess, "");
}

AuthorizationCallObserver SetAuthorizationCallObserver(AuthorizationCallObserver observer) {
    AuthorizationCallObserver previous = Observer();
    Observer() = observer;
    return previous;
}
