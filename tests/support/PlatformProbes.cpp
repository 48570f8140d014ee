#include "tests/support/PlatformProbes.h"

#include "platform/foundation/BundleLocation.h"
#include "platform/registry/HandleTable.h"

size_t IORegistryHandlesHeld() {
    return registry_internal::Handles().size() + registry_internal::LiveDictionaries().size();
}

size_t IORegistryStrayReleases() {
    return registry_internal::Handles().strayReleases;
}

namespace {

std::vector<AuthorizationCall>& Journal() {
    static std::vector<AuthorizationCall> journal;
    return journal;
}

// Installed before any test's first call.
const bool observing = [] {
    SetAuthorizationCallObserver([](const AuthorizationCall& call) { Journal().push_back(call); });
    return true;
}();

}  // namespace

const std::vector<AuthorizationCall>& AuthorizationCallJournal() {
    return Journal();
}

void AuthorizationClearCallJournal() {
    Journal().clear();
}

void UseMainBundleAt(const std::string& path) {
    SetMainBundleLocation(path);
}
