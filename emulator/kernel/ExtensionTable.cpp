#include "emulator/kernel/ExtensionTable.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <unordered_map>

#include "common/PropertyListDepth.h"
#include "emulator/host/HostError.h"
#include "emulator/host/HostFiles.h"
#include "emulator/kernel/KernelRegistry.h"
#include "emulator/kernel/PlistLibrary.h"

namespace emu {

// ---------------------------------------------------------------------------------------------
// Bundle information

namespace {

struct PlistDeleter {
    void operator()(void* node) const { Plist().free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::string StringValue(plist_t node) {
    if (node == nullptr || Plist().nodeType(node) != PLIST_STRING) return {};
    uint64_t length = 0;
    const char* text = Plist().stringPtr(node, &length);
    return text != nullptr ? std::string(text, length) : std::string();
}

// Calls visit(key, value) for each item of a dictionary node, in the file's order.
template <typename Visit>
void ForEachItem(plist_t dict, Visit visit) {
    if (dict == nullptr || Plist().nodeType(dict) != PLIST_DICT) return;
    plist_dict_iter iter = nullptr;
    Plist().dictNewIter(dict, &iter);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        Plist().dictNextItem(dict, iter, &key, &value);
        if (key == nullptr) break;
        std::string keyText(key);
        std::free(key);
        visit(keyText, value);
    }
    std::free(iter);
}

// The kernel state is JSON text, which holds UTF-8 only.
bool ValidUtf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

// A string of the bundle that goes into the kernel state.
std::string Checked(const std::string& path, const std::string& what, std::string text) {
    if (!ValidUtf8(text)) throw HostError(path + ": " + what + " is not valid UTF-8");
    return text;
}

PlistPtr ParsePlist(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes, kBundleInfoLimit)) throw HostError(path + ": no such file");
    if (bytes.size() > kBundleInfoLimit) {
        throw HostError(path + ": more than " + std::to_string(kBundleInfoLimit) +
                        " bytes; not a bundle's property list");
    }
    // The library parses nested containers by recursion: a list nested too deeply is refused
    // before it sees it.
    if (!sc820::PropertyListWithinDepth(bytes)) {
        throw HostError(path + ": not a property list dictionary (nested too deeply)");
    }
    plist_t root = nullptr;
    if (!bytes.empty() && bytes.size() < UINT32_MAX) {
        Plist().fromMemory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    }
    PlistPtr owned(root);
    if (root == nullptr || Plist().nodeType(root) != PLIST_DICT) {
        throw HostError(path + ": not a property list dictionary");
    }
    return owned;
}

}  // namespace

BundleInfo ReadBundleInfo(const std::string& bundlePath) {
    std::string path = bundlePath + "/Contents/Info.plist";
    PlistPtr root = ParsePlist(path);
    plist_t dict = static_cast<plist_t>(root.get());
    BundleInfo info;
    info.identifier = Checked(path, "CFBundleIdentifier",
                              StringValue(Plist().dictItem(dict, "CFBundleIdentifier")));
    info.version =
        Checked(path, "CFBundleVersion", StringValue(Plist().dictItem(dict, "CFBundleVersion")));
    if (info.identifier.empty()) throw HostError(path + ": no CFBundleIdentifier string");
    if (info.version.empty()) throw HostError(path + ": no CFBundleVersion string");
    ForEachItem(Plist().dictItem(dict, "IOKitPersonalities"), [&](const std::string& name,
                                                                  plist_t personality) {
        std::string className = Checked(path, "the IOClass of \"" + name + "\"",
                                        StringValue(Plist().dictItem(personality, "IOClass")));
        if (className.empty())
            throw HostError(path + ": personality \"" + name + "\" has no IOClass string");
        if (std::find(info.classes.begin(), info.classes.end(), className) == info.classes.end()) {
            info.classes.push_back(className);
        }
        // A personality that names a user-client class makes its services take connections.
        if (!StringValue(Plist().dictItem(personality, "IOUserClientClass")).empty() &&
            std::find(info.userClients.begin(), info.userClients.end(), className) ==
                info.userClients.end()) {
            info.userClients.push_back(className);
        }
    });
    ForEachItem(Plist().dictItem(dict, "OSBundleLibraries"),
                [&](const std::string& library, plist_t) {
                    info.libraries.push_back(Checked(path, "a library name", library));
                });
    return info;
}

// ---------------------------------------------------------------------------------------------
// Loaded extensions

namespace {

// Every extension links against the kernel's own programming interfaces.
constexpr const char* kKernelInterfaces[] = {"host.kernel.iokit", "host.kernel.libkern"};
constexpr uint64_t kPageSize = 0x1000;

}  // namespace

const LoadedExtension* ExtensionTable::find(const std::string& identifier) const {
    for (const auto& e : state_.extensions) {
        if (e.identifier == identifier) return &e;
    }
    return nullptr;
}

std::vector<int> ExtensionTable::linkIndices(const BundleInfo& bundle) const {
    std::vector<int> indices;
    auto link = [&](const std::string& identifier) {
        const LoadedExtension* target = find(identifier);
        if (target != nullptr &&
            std::find(indices.begin(), indices.end(), target->index) == indices.end()) {
            indices.push_back(target->index);
        }
    };
    for (const char* identifier : kKernelInterfaces) link(identifier);
    for (const auto& identifier : bundle.libraries) link(identifier);
    std::sort(indices.begin(), indices.end());
    return indices;
}

const LoadedExtension& ExtensionTable::load(const BundleInfo& bundle) {
    LoadedExtension e;
    e.index = state_.nextExtensionIndex++;
    e.identifier = bundle.identifier;
    e.version = bundle.version;
    e.classes = bundle.classes;
    e.userClients = bundle.userClients;
    e.linked = linkIndices(bundle);
    // A plausible image: a few pages, all wired, placed after the previous one.
    e.size = static_cast<uint32_t>(kPageSize *
                                   (3 + bundle.classes.size() + bundle.identifier.size() % 5));
    e.wired = e.size;
    e.address = state_.nextLoadAddress;
    state_.nextLoadAddress += e.size;
    state_.extensions.push_back(e);
    KernelRegistry(state_).registerClasses(state_.extensions.back());
    return state_.extensions.back();
}

bool ExtensionTable::attachToFreeCard(const LoadedExtension& extension) {
    KernelRegistry registry(state_);
    if (extension.classes.empty() || registry.servesCard(extension)) return false;
    return registry.registerClasses(extension);
}

void ExtensionTable::addLoaded(LoadedExtension extension) {
    state_.nextExtensionIndex = std::max(state_.nextExtensionIndex, extension.index + 1);
    state_.nextLoadAddress = std::max(state_.nextLoadAddress, extension.address + extension.size);
    state_.extensions.push_back(std::move(extension));
}

void ExtensionTable::unload(const std::string& identifier) {
    const LoadedExtension* e = find(identifier);
    if (e == nullptr) throw HostError(identifier + " is not loaded");
    if (references(e->index) > 0)
        throw HostError(identifier + " is in use: other extensions link against it");
    const RegistryEntry* device = KernelRegistry(state_).deviceUnder(e->classes);
    if (device != nullptr) {
        throw HostError(identifier + " is in use: a SCSI device (target " +
                        std::to_string(device->target) + ") is attached to it");
    }
    KernelRegistry(state_).removeOwnedBy(identifier);
    std::erase_if(state_.extensions,
                  [&](const LoadedExtension& x) { return x.identifier == identifier; });
}

int ExtensionTable::references(int index) const {
    int count = 0;
    for (const auto& e : state_.extensions) {
        count += static_cast<int>(std::count(e.linked.begin(), e.linked.end(), index));
    }
    return count;
}

std::string ExtensionTable::listing(bool withLinked) const {
    // Every reference count in one pass over the links: the listing stays linear in the
    // number of extensions and links.
    std::unordered_map<int, int> references;
    for (const auto& e : state_.extensions) {
        for (int index : e.linked) ++references[index];
    }
    std::string text = "Index Refs Address            Size       Wired      Name (Version)";
    text += withLinked ? " <Linked Against>\n" : "\n";
    for (const auto& e : state_.extensions) {
        auto counted = references.find(e.index);
        char line[160];
        std::snprintf(line, sizeof line, "%5d %4d 0x%-16" PRIx64 " 0x%-8x 0x%-8x ", e.index,
                      counted == references.end() ? 0 : counted->second, e.address, e.size,
                      e.wired);
        text += line + e.identifier + " (" + e.version + ")";
        if (withLinked && !e.linked.empty()) {
            text += " <";
            for (size_t i = 0; i < e.linked.size(); ++i)
                text += (i ? " " : "") + std::to_string(e.linked[i]);
            text += ">";
        }
        text += "\n";
    }
    return text;
}

}  // namespace emu
