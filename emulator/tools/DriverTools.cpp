#include "emulator/tools/DriverTools.h"

#include <filesystem>

#include "emulator/host/HostError.h"
#include "emulator/host/HostFiles.h"
#include "emulator/host/HostSession.h"
#include "emulator/host/SystemLog.h"
#include "emulator/kernel/ExtensionTable.h"
#include "emulator/kernel/KernelRegistry.h"

namespace fs = std::filesystem;

namespace emu {

namespace {

bool LivesInUsrSbin(const std::string& tool) {
    const DriverTool* found = FindDriverTool(tool);
    return found != nullptr && std::string_view(found->folder) == "usr/sbin";
}

int Usage(const std::string& tool, const char* form, std::ostream& err) {
    err << "usage: " << tool << form << "\n";
    return 1;
}

int Listing(const std::string& tool, const std::string& root, const std::vector<std::string>& args,
            std::ostream& out, std::ostream& err) {
    if (!args.empty()) return Usage(tool, "", err);
    HostSession session(root);
    out << ExtensionTable(session.state()).listing(tool == "kextstat");
    return 0;
}

int Load(const std::string& root, const std::vector<std::string>& args, std::ostream& out,
         std::ostream& err) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
        return Usage("kextload", " BUNDLE", err);
    HostSession session(root);
    BundleInfo bundle = ReadBundleInfo(args[0]);
    ExtensionTable table(session.state());
    if (const LoadedExtension* loaded = table.find(bundle.identifier)) {
        std::string name = loaded->identifier + " (" + loaded->version + ")";
        out << "kextload: " << name << " is already loaded\n";
        // An extension loaded while another driver held the card serves it once it is free.
        if (table.attachToFreeCard(*loaded)) {
            session.save();
            AppendSystemLog(root, "kernel", "kext " + name + " now serves the card");
            out << "kextload: " << name << " now serves the card\n";
        }
        return 0;
    }
    const LoadedExtension& loaded = table.load(bundle);
    std::string name = loaded.identifier + " (" + loaded.version + ")";
    bool attached = KernelRegistry(session.state()).servesCard(loaded);
    session.save();
    AppendSystemLog(root, "kernel",
                    "kext " + name + " loaded from " + args[0] +
                        (attached ? "" : "; the card is held by another driver"));
    out << "kextload: " << args[0] << " loaded as " << name << "\n";
    if (!attached)
        out << "kextload: the card is held by another driver; " << name << " does not serve it\n";
    return 0;
}

int Unload(const std::string& root, const std::vector<std::string>& args, std::ostream& out,
           std::ostream& err) {
    if (args.size() != 2 || args[0] != "-m" || args[1].empty())
        return Usage("kextunload", " -m BUNDLE_ID", err);
    const std::string& identifier = args[1];
    HostSession session(root);
    ExtensionTable table(session.state());
    const LoadedExtension* loaded = table.find(identifier);
    std::string name = loaded != nullptr ? identifier + " (" + loaded->version + ")" : identifier;
    table.unload(identifier);
    session.save();
    AppendSystemLog(root, "kernel", "kext " + name + " unloaded");
    out << "kextunload: " << identifier << " unloaded\n";
    return 0;
}

}  // namespace

bool IsDriverTool(const std::string& name) {
    return FindDriverTool(name) != nullptr;
}

std::optional<std::string> ToolHostRoot(const std::string& execPath, const std::string& tool,
                                        const std::string& cwd) {
    fs::path path(execPath);
    if (path.is_relative()) path = fs::path(cwd) / path;
    path = path.lexically_normal();
    fs::path dir = path.parent_path();
    if (path.filename().empty() || dir.filename() != "sbin") return std::nullopt;
    std::vector<fs::path> candidates;
    fs::path sbinRoot = dir.parent_path();
    bool underUsr = sbinRoot.filename() == "usr";
    if (underUsr && LivesInUsrSbin(tool)) candidates.push_back(sbinRoot.parent_path());
    candidates.push_back(sbinRoot);
    if (underUsr && !LivesInUsrSbin(tool)) candidates.push_back(sbinRoot.parent_path());
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (fs::exists(HostPaths(candidate.string()).stateFile(), error)) return candidate.string();
    }
    return candidates.front().string();
}

int RunDriverTool(const std::string& name, const std::string& root,
                  const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        if (name == "kextload") return Load(root, args, out, err);
        if (name == "kextunload") return Unload(root, args, out, err);
        if (name == "kextstat" || name == "kmodstat") return Listing(name, root, args, out, err);
        err << name << ": not a driver tool\n";
    } catch (const HostError& error) {
        err << name << ": " << error.what() << "\n";
    }
    return 1;
}

}  // namespace emu
