#include "emulator/kernel/KernelCalls.h"

#include "emulator/card/UtilityClientOwner.h"
#include "emulator/host/HostError.h"
#include "emulator/host/HostView.h"
#include "emulator/kernel/KernelRegistry.h"

namespace emu {

namespace {

// Runs one kernel operation on the host's state as it is now; a host that cannot be used fails
// it. None of these operations changes the state, so none needs the host lock (HostView.h).
template <typename Operation>
IOReturn WithView(const std::string& root, std::string* problem, IOReturn onError,
                  Operation operation) {
    try {
        HostView view(root);
        return operation(view);
    } catch (const HostError& error) {
        if (problem != nullptr) *problem = error.what();
        return onError;
    }
}

}  // namespace

IOReturn KernelMasterPort(const std::string& root, std::string* problem) {
    return WithView(root, problem, KERN_FAILURE, [](const HostView& view) {
        return view.current().faultOn(kFaultMasterPort) ? KERN_FAILURE : KERN_SUCCESS;
    });
}

bool KernelMatchingAvailable(const std::string& root, std::string* problem) {
    return WithView(root, problem, kIOReturnSuccess, [](const HostView& view) {
               return view.current().faultOn(kFaultMatching) ? kIOReturnError : kIOReturnSuccess;
           }) == kIOReturnSuccess;
}

IOReturn KernelMatchServices(const std::string& root, MatchBy by, const std::string& value,
                             std::vector<ServiceRef>* found, std::string* problem) {
    found->clear();
    return WithView(root, problem, kIOReturnError, [&](const HostView& view) {
        if (view.current().faultOn(kFaultSearch)) return kIOReturnError;
        KernelRegistry registry(view.current());
        std::vector<uint32_t> ids =
            by == MatchBy::className ? registry.matchClass(value) : registry.matchName(value);
        for (uint32_t id : ids) found->push_back({id, registry.find(id)->className});
        return kIOReturnSuccess;
    });
}

IOReturn KernelParentEntry(const std::string& root, uint32_t id, ServiceRef* parent,
                           std::string* problem) {
    return WithView(root, problem, kIOReturnError, [&](const HostView& view) {
        KernelRegistry registry(view.current());
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
    return WithView(root, problem, kIOReturnError, [&](const HostView& view) {
        const RegistryEntry* entry = KernelRegistry(view.current()).find(id);
        if (entry == nullptr) return kIOReturnNotAttached;
        // Whether a service takes connections is the data of the extension that registered it.
        if (!entry->userClient) return kIOReturnUnsupported;
        if (type != 0) return kIOReturnBadArgument;
        if (view.current().faultOn(kFaultOpen)) return kIOReturnNotPrivileged;
        // The owner asks again with every command. Its claim stands while the state file is the
        // version it was confirmed under: the ownership file is made once and goes only with
        // the host, and a host made anew writes a new state file.
        HostHandles& kept = view.handles();
        const uint64_t generation = kept.stateVersion ? kept.stateGeneration : 0;
        if (generation != 0 && kept.claimedUnder == generation) return kIOReturnSuccess;
        IOReturn status = ClaimUtilityClient(view.paths(), problem);
        if (status == kIOReturnSuccess) kept.claimedUnder = generation;
        return status;
    });
}

std::optional<AuthPolicy> KernelAuthorizationPolicy(const std::string& root, std::string* problem) {
    try {
        return HostView(root).current().auth;
    } catch (const HostError& error) {
        if (problem != nullptr) *problem = error.what();
        return std::nullopt;
    }
}

}  // namespace emu
