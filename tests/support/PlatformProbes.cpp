#include "tests/support/PlatformProbes.h"

#include "platform/foundation/BundleLocation.h"
#include "platform/registry/HandleTable.h"

size_t IORegistryHandlesHeld() {
    return registry_internal::Handles().size() + registry_internal::LiveDictionaries().size();
}

namespace {

std::vector<AuthorizationCall>& Journal() {
    static std::vector<AuthorizationCall> journal;
    return journal;
}

void RecordCall(const AuthorizationCall& call) {
    Journal().push_back(call);
}

// Installed once the journal is first asked for, and before any test's first call.
const bool observing = [] {
    SetAuthorizationCallObserver(RecordCall);
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
