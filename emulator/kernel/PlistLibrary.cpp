#include "emulator/kernel/PlistLibrary.h"

#include <dlfcn.h>

#include <mutex>
#include <optional>
#include <string>

#include "emulator/host/HostError.h"

namespace emu {

namespace {

// The library's name as its Debian package installs it (libplist-2.0 of libplist3); the
// development package's unversioned link is not needed at run time.
constexpr const char kLibrary[] = "libplist-2.0.so.3";

template <typename Function>
void Bind(void* library, const char* name, Function* function) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        throw HostError(std::string("cannot use ") + kLibrary + ": it has no " + name);
    }
    *function = reinterpret_cast<Function>(symbol);
}

PlistLibrary Load() {
    // Never unloaded: the functions stay bound for the rest of the process.
    void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        throw HostError(std::string("cannot load ") + kLibrary + ": " +
                        (reason != nullptr ? reason : "unknown reason"));
    }
    PlistLibrary plist{};
    Bind(library, "plist_from_memory", &plist.fromMemory);
    Bind(library, "plist_free", &plist.free);
    Bind(library, "plist_get_node_type", &plist.nodeType);
    Bind(library, "plist_get_string_ptr", &plist.stringPtr);
    Bind(library, "plist_dict_get_item", &plist.dictItem);
    Bind(library, "plist_dict_new_iter", &plist.dictNewIter);
    Bind(library, "plist_dict_next_item", &plist.dictNextItem);
    return plist;
}

}  // namespace

const PlistLibrary& Plist() {
    static std::mutex mutex;
    static std::optional<PlistLibrary> loaded;
    std::lock_guard<std::mutex> guard(mutex);
    // A failed load is tried again next time: the error reaches every caller.
    if (!loaded) loaded = Load();
    return *loaded;
}

}  // namespace emu
