// The registry stand-in's per-process handles: master ports, iterators, registry objects and
// connections are numbers from one table, and matching dictionaries are tracked until a search
// takes them over. A number is never given out twice, so a stale or made-up handle is refused
// instead of reaching another object. Internal to the stand-in (test support counts the
// handles to prove that nothing leaks); the utility never sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "emulator/Emulator.h"
#include "platform/registry/IOKit.h"

struct __IOMatchingDictionary {
    bool byClass;  // else by entry name
    std::string value;
};

namespace registry_internal {

enum class HandleKind { masterPort, iterator, object, connection };

struct Handle {
    HandleKind kind;
    std::string root;                    // the host the handle belongs to
    std::vector<emu::ServiceRef> found;  // iterator: the matching entries
    size_t next = 0;                     // iterator: position
    emu::ServiceRef entry;               // object or connection: the registry entry
};

class HandleTable {
public:
    uint32_t add(Handle handle) {
        uint32_t number = next_;
        next_ += 4;
        handles_.emplace(number, std::move(handle));
        return number;
    }
    Handle* find(uint32_t number, HandleKind kind) {
        auto it = handles_.find(number);
        return it != handles_.end() && it->second.kind == kind ? &it->second : nullptr;
    }
    bool remove(uint32_t number, HandleKind kind) {
        if (find(number, kind) == nullptr) return false;
        handles_.erase(number);
        return true;
    }
    size_t size() const { return handles_.size(); }

    // Releases of a non-null handle that was not held: on a real host, a double release frees
    // a reference someone else still holds.
    size_t strayReleases = 0;

private:
    std::map<uint32_t, Handle> handles_;
    uint32_t next_ = 0x1003;
};

HandleTable& Handles();
std::set<const __IOMatchingDictionary*>& LiveDictionaries();

}  // namespace registry_internal
