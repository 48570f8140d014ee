// The property-list library, loaded the first time a bundle's Info.plist is read rather than when
// the program starts. Every driver tool is sc820-host started afresh, and of the tools only
// kextload reads a bundle: loading the library, and the libraries it needs in turn, at each
// start would cost kextstat and kextunload more than their own work does.
#pragma once

#include <plist/plist.h>

namespace emu {

// The library's functions that the emulator calls, with the library's own signatures.
struct PlistLibrary {
    decltype(&plist_from_memory) fromMemory;
    decltype(&plist_free) free;
    decltype(&plist_get_node_type) nodeType;
    decltype(&plist_get_string_ptr) stringPtr;
    decltype(&plist_dict_get_item) dictItem;
    decltype(&plist_dict_new_iter) dictNewIter;
    decltype(&plist_dict_next_item) dictNextItem;
};

// The loaded library; loaded on the first call. Throws HostError, naming the library and the
// loader's reason, when it cannot be loaded or lacks one of the functions.
const PlistLibrary& Plist();

}  // namespace emu
