// The kernel's loaded extensions: loading one registers the classes it provides, unloading it
// removes them, and the status tools list them.
#pragma once

#include <string>
#include <vector>

#include "emulator/host/HostState.h"

namespace emu {

// What a kernel extension bundle declares in its Contents/Info.plist.
struct BundleInfo {
    std::string identifier;                // CFBundleIdentifier
    std::string version;                   // CFBundleVersion
    std::vector<std::string> classes;      // IOClass of each IOKitPersonalities entry
    std::vector<std::string> userClients;  // the classes whose personality names IOUserClientClass
    std::vector<std::string> libraries;    // keys of OSBundleLibraries
};

// Reads a bundle's information; a missing or malformed file throws HostError.
BundleInfo ReadBundleInfo(const std::string& bundlePath);

class ExtensionTable {
public:
    explicit ExtensionTable(HostState& state) : state_(state) {}

    const LoadedExtension* find(const std::string& identifier) const;
    // Loads the extension and registers its classes; returns the loaded extension.
    const LoadedExtension& load(const BundleInfo& bundle);
    // Registers a loaded extension's classes under the card when no driver holds it; true when
    // it now serves the card.
    bool attachToFreeCard(const LoadedExtension& extension);
    // Appends an extension exactly as given (the default host's base set); registers nothing.
    void addLoaded(LoadedExtension extension);
    // Unloads it and removes its registry entries. Throws HostError when it is not loaded, when
    // other extensions link against it, or while a SCSI device hangs from one of its entries.
    void unload(const std::string& identifier);
    // How many loaded extensions link against this one.
    int references(int index) const;
    // The status tools' listing: a header, then one line per extension.
    std::string listing(bool withLinked) const;

private:
    std::vector<int> linkIndices(const BundleInfo& bundle) const;
    HostState& state_;
};

}  // namespace emu
