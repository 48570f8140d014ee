#include "emulator/KernelCalls.h"

#include "emulator/HostError.h"
#include "emulator/HostSession.h"
#include "emulator/KernelRegistry.h"
#include "emulator/UtilityClientOwner.h"

namespace emu {

namespace {

// Runs one kernel operation under the host lock; a host that cannot be used fails it.
template <typename Operation>
IOReturn WithHost(const std::string& root, std::string* problem, IOReturn onError,
                  Operation operation) {
    try {
        HostSession session(root);
        return operation(session);
    } catch (const HostError& error) {
        if (problem != nullptr) *problem = error.what();
        return onError;
    }
}

}  // namespace

IOReturn KernelMasterPort(const std::string& root, std::string* problem) {
    return WithHost(root, problem, KERN_FAILURE, [](HostSession& session) {
        return session.current().faultOn(kFaultMasterPort) ? KERN_FAILURE : KERN_SUCCESS;
    });
}

bool KernelMatchingAvailable(const std::string& root, std::string* problem) {
    return WithHost(root, problem, kIOReturnSuccess, [](HostSession& session) {
               return session.current().faultOn(kFaultMatching) ? kIOReturnError : kIOReturnSuccess;
           }) == kIOReturnSuccess;
}

IOReturn KernelMatchServices(const std::string& root, MatchBy by, const std::string& value,
                             std::vector<ServiceRef>* found, std::string* problem) {
    found->clear();
    return WithHost(root, problem, kIOReturnError, [&](HostSession& session) {
        if (session.current().faultOn(kFaultSearch)) return kIOReturnError;
        KernelRegistry registry(session.current());
        std::vector<uint32_t> ids =
            by == MatchBy::className ? registry.matchClass(value) : registry.matchName(value);
        for (uint32_t id : ids) found->push_back({id, registry.find(id)->className});
        return kIOReturnSuccess;
    });
}

IOReturn KernelParentEntry(const std::string& root, uint32_t id, ServiceRef* parent,
                           std::string* problem) {
    return WithHost(root, problem, kIOReturnError, [&](HostSession& session) {
        KernelRegistry registry(session.current());
        const RegistryEntry* child = registry.find(id);
        if (child == nullptr) return kIOReturnNotAttached;
        const RegistryEntry* up = registry.find(child->parent);
        if (up == nullptr) return kIOReturnNotFound;
        *parent = {up->id, up->className};
        return kIOReturnSuccess;
    });
}

IOReturn KernelOpenUserClient(const std::string& root, uint32_t id, uint32_t type,
                              std::string* problem) {
    return WithHost(root, problem, kIOReturnError, [&](HostSession& session) {
        const RegistryEntry* entry = KernelRegistry(session.current()).find(id);
        if (entry == nullptr) return kIOReturnNotAttached;
        // Whether a service takes connections is the data of the extension that registered it.
        if (!entry->userClient) return kIOReturnUnsupported;
        if (type != 0) return kIOReturnBadArgument;
        if (session.current().faultOn(kFaultOpen)) return kIOReturnNotPrivileged;
        // The owner asks again with every command. Its claim stands while the state file is the
        // version it was confirmed under: the ownership file is made once and goes only with
        // the host, and a host made anew writes a new state file.
        HostHandles& kept = session.handles();
        if (kept.claimedUnder && kept.claimedUnder == kept.stateVersion) return kIOReturnSuccess;
        IOReturn status = ClaimUtilityClient(session.paths(), problem);
        if (status == kIOReturnSuccess) kept.claimedUnder = kept.stateVersion;
        return status;
    });
}

}  // namespace emu
