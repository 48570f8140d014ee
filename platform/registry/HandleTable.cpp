#include "platform/registry/HandleTable.h"

namespace registry_internal {

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

std::set<const __IOMatchingDictionary*>& LiveDictionaries() {
    static std::set<const __IOMatchingDictionary*> live;
    return live;
}

}  // namespace registry_internal
