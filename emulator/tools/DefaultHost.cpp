#include "emulator/tools/DefaultHost.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "driverif/CommandCodes.h"
#include "driverif/DriverNames.h"
#include "driverif/def.h"
#include "emulator/card/DriverState.h"
#include "emulator/card/Sc820Card.h"
#include "emulator/card/UtilityClientOwner.h"
#include "emulator/host/HostError.h"
#include "emulator/host/HostFiles.h"
#include "emulator/host/HostLock.h"
#include "emulator/kernel/ExtensionTable.h"
#include "emulator/kernel/KernelRegistry.h"

namespace fs = std::filesystem;

namespace emu {

// ---------------------------------------------------------------------------------------------
// Kernel state

namespace {

LoadedExtension Extension(int index, const char* identifier, const char* version,
                          std::vector<std::string> classes, std::vector<int> linked,
                          uint64_t address, uint32_t size) {
    LoadedExtension e;
    e.index = index;
    e.identifier = identifier;
    e.version = version;
    e.classes = std::move(classes);
    e.linked = std::move(linked);
    e.address = address;
    e.size = size;
    e.wired = size;
    return e;
}

RegistryEntry Entry(const char* name, const char* className, uint32_t parent,
                    const char* owner = "", int target = -1) {
    RegistryEntry e;
    e.name = name;
    e.className = className;
    e.parent = parent;
    e.owner = owner;
    e.target = target;
    return e;
}

constexpr const char kGenericSCSIDriver[] = "host.driver.genericscsi";
constexpr const char kGenericSCSIClass[] = "GenericSCSIController";

void AddDefaultExtensions(HostState& state) {
    ExtensionTable table(state);
    table.addLoaded(Extension(1, "host.kernel.mach", "1.0.0", {}, {}, 0, 0));
    table.addLoaded(Extension(2, "host.kernel.bsd", "1.0.0", {}, {}, 0, 0));
    table.addLoaded(Extension(3, "host.kernel.iokit", "1.0.0", {}, {}, 0, 0));
    table.addLoaded(Extension(4, "host.kernel.libkern", "1.0.0", {}, {}, 0, 0));
    table.addLoaded(Extension(5, "host.iokit.pci", "1.4.0", {}, {3, 4}, 0x3a2000, 0x9000));
    table.addLoaded(
        Extension(6, "host.iokit.scsiparallel", "1.3.2", {}, {3, 4, 5}, 0x3ab000, 0x12000));
    table.addLoaded(Extension(7, kGenericSCSIDriver, "2.0.1", {kGenericSCSIClass}, {3, 4, 5, 6},
                              0x3bd000, 0x7000));
    table.addLoaded(Extension(8, kSC820DriverBundleID, "3.1.4", {kSC820DriverClass}, {3, 4, 5, 6},
                              0x3c4000, 0xb000));
}

void AddDefaultEntries(HostState& state) {
    KernelRegistry registry(state);
    uint32_t root = registry.add(Entry("Root", "HostPlatform", 0));
    uint32_t pci = registry.add(Entry("pci", "HostPCIBridge", root));
    state.cardEntry = registry.add(Entry("scsi-sc820@4", "HostPCIDevice", pci));
    uint32_t otherCard = registry.add(Entry("scsi@6", "HostPCIDevice", pci));
    // A driver's service is named after the extension that registered it, not after its class.
    registry.add(
        Entry(kSC820DriverBundleID, kSC820DriverClass, state.cardEntry, kSC820DriverBundleID));
    uint32_t other =
        registry.add(Entry(kGenericSCSIDriver, kGenericSCSIClass, otherCard, kGenericSCSIDriver));
    registry.add(Entry(kSCSIDeviceName, kSCSIDeviceClass, other, "", 2));
}

std::string RecordBytes(const SCSIUTY_CFG& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// Read as a host-order value, the low byte holds the integer digits and the high byte the
// fraction digits, two BCD digits each: 0x2001 is version 1.20. The factory record carries the
// board version the settings were made for, which differs from this card's.
void SetPcbVersion(SCSIUTY_CFG& record, uint16_t version, uint8_t revision) {
    record.PcbVersion = version;
    record.PcbRevision = revision;
}

}  // namespace

HostState DefaultHostState() {
    HostState state;
    AddDefaultExtensions(state);
    AddDefaultEntries(state);
    return state;
}

// ---------------------------------------------------------------------------------------------
// Card contents

std::string DefaultEepromRecord() {
    SCSIUTY_CFG r{};
    r.Valid = 1;
    r.HA_ScsiID = 7;
    r.BootTargetID = 0;
    r.pad0[0] = 0xA5;
    r.pad0[1] = 0x5A;
    r.BiosEnable = 1;
    r.BootCDROM = 1;
    r.RemovalHD = 0;
    r.ResetToSelTime = 2;
    r.Targets = 16;
    r.pad1[0] = 0x3C;
    r.pad1[1] = 0xC3;
    r.ParityEnable = 1;
    r.TermMode = ENABLE_TERM;
    for (int i = 0; i < kSCSITargetCount; ++i) {
        r.SyncEnable[i] = (i % 5 != 4) ? 1 : 0;
        r.WideEnable[i] = (i < 8 || i % 2 == 0) ? 1 : 0;
        r.DisconnectEnable[i] = (i != 3) ? 1 : 0;
        r.SyncSpeed[i] = static_cast<SYNC_SPEED>(1 + i % 7);
    }
    r.Reserved0 = 0x5E;
    r.pad2 = 0x99;
    SetPcbVersion(r, 0x2001, 2);
    r.pad3[0] = 0x0F;
    r.pad3[1] = 0xF0;
    r.pad3[2] = 0x1E;
    r.Reserved1 = 0x0820C0DEu;
    r.Burst = 1;
    r.RQdelay = 3;
    r.pad4[0] = 0x4D;
    r.pad4[1] = 0xD4;
    r.pad4[2] = 0x77;
    return RecordBytes(r);
}

std::string DefaultFactoryRecord() {
    SCSIUTY_CFG r{};
    r.Valid = 1;
    r.HA_ScsiID = 7;
    r.BiosEnable = 1;
    r.Targets = 16;
    r.ParityEnable = 1;
    r.TermMode = AUTO_TERM;
    for (int i = 0; i < kSCSITargetCount; ++i) {
        r.SyncEnable[i] = 1;
        r.WideEnable[i] = 1;
        r.DisconnectEnable[i] = 1;
        r.SyncSpeed[i] = SYNC_20MB;
    }
    SetPcbVersion(r, 0x1001, 1);  // 1.10
    r.Burst = 0;
    return RecordBytes(r);
}

std::string DefaultFlashImage() {
    // A 32 KiB option ROM: signature, length in 512-byte blocks, a banner, code-like filler,
    // and a last byte that makes the ROM's bytes sum to zero. The rest of the flash is erased.
    constexpr size_t kRomSize = 32 * 1024;
    std::string rom(kRomSize, '\0');
    rom[0] = static_cast<char>(0x55);
    rom[1] = static_cast<char>(0xAA);
    rom[2] = static_cast<char>(kRomSize / 512);
    const char banner[] = "SC820 PCI SCSI BIOS 1.20\r\n";
    std::memcpy(&rom[0x20], banner, sizeof banner - 1);
    uint32_t seed = 0x820;
    for (size_t i = 0x80; i < kRomSize - 1; ++i) {
        seed = seed * 1103515245u + 12345u;
        rom[i] = static_cast<char>(seed >> 16);
    }
    uint8_t sum = 0;
    for (char c : rom) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    rom[kRomSize - 1] = static_cast<char>(static_cast<uint8_t>(-sum));
    rom.resize(kFlashSize, static_cast<char>(kErasedByte));
    return rom;
}

// ---------------------------------------------------------------------------------------------
// Laying out a host

namespace {

void MakeDirectory(const std::string& path) {
    std::error_code error;
    fs::create_directories(path, error);
    if (error) throw HostError("cannot create " + path + ": " + error.message());
}

// Points `link` at `target`, replacing whatever was there in one step.
void ReplaceSymlink(const std::string& target, const std::string& link) {
    std::string temporary = link + ".tmp";
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0 ||
        rename(temporary.c_str(), link.c_str()) != 0) {
        int saved = errno;
        unlink(temporary.c_str());
        throw HostError("cannot link " + link + ": " + std::strerror(saved));
    }
}

void RefuseUnlessEmpty(const HostPaths& paths) {
    std::error_code error;
    if (fs::exists(paths.stateFile(), error)) {
        throw HostError("a host already exists at " + paths.root() + " (init --force resets it)");
    }
    if (fs::exists(paths.root(), error) && !fs::is_empty(paths.root(), error)) {
        throw HostError(paths.root() +
                        " is not empty and holds no host (init --force makes one there)");
    }
}

// Gives the host its own copy of the program (a hard link when the file system allows it), so
// that it keeps working when the program it was made by is moved, rebuilt or deleted.
void CopyProgram(const std::string& program, const std::string& copy) {
    struct stat from {
    }, to{};
    if (stat(program.c_str(), &from) != 0)
        throw HostError("cannot read " + program + ": " + std::strerror(errno));
    if (stat(copy.c_str(), &to) == 0 && from.st_dev == to.st_dev && from.st_ino == to.st_ino)
        return;  // run from the host's own copy
    std::string temporary = copy + ".link";
    unlink(temporary.c_str());
    if (link(program.c_str(), temporary.c_str()) == 0) {
        if (rename(temporary.c_str(), copy.c_str()) == 0) return;
        unlink(temporary.c_str());
    }
    std::string bytes;
    ReadWholeFile(program, &bytes);
    ReplaceFile(copy, bytes);
    if (chmod(copy.c_str(), 0755) != 0)
        throw HostError("cannot make " + copy + " executable: " + std::strerror(errno));
}

// The tools link to the host's copy by relative paths: the whole root may move.
void LayOutTools(const HostPaths& paths, const std::string& hostBinary) {
    MakeDirectory(paths.root() + "/usr/libexec");
    // A copy killed half-way is a temporary of some megabytes: init and repair hold the lock.
    RemoveStaleTemporaries(paths.root() + "/usr/libexec");
    CopyProgram(hostBinary, paths.hostProgram());
    for (const DriverTool& tool : kDriverTools) {
        if (!tool.laidOut) {
            unlink(paths.tool(tool).c_str());
            continue;
        }
        MakeDirectory(paths.root() + "/" + tool.folder);
        const fs::path target = fs::path("usr/libexec/sc820-host").lexically_relative(tool.folder);
        ReplaceSymlink(target.string(), paths.tool(tool));
    }
}

void CreateLog(const HostPaths& paths) {
    MakeDirectory(paths.logDir());
    (void)MendHostFile(paths.systemLog(), "");
    int fd = open(paths.systemLog().c_str(),
                  O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) throw HostError("cannot create " + paths.systemLog() + ": " + std::strerror(errno));
    close(fd);
}

// The kernel's state and the utility driver's, as a fresh host has them. The state file goes
// last: until it exists, the root holds no host.
void ResetKernel(const HostPaths& paths) {
    DriverStateFile(paths).reset(DriverState());
    ReplaceFile(paths.stateFile(), SerializeState(DefaultHostState(), NewStateStamp()));
    RemoveStaleTemporaries(paths.stateDir());
}

}  // namespace

// Runs the steps that replace a host's files one after another. A step that fails after others
// have replaced theirs is reported with what they did: the files they replaced are new.
class LayingOut {
public:
    void step(const char* replaces, const std::function<void()>& action) {
        try {
            action();
        } catch (const HostError& error) {
            if (done_.empty()) throw;
            throw HostError(std::string(error.what()) + "; the host is partly laid out (" + done_ +
                            " replaced): run sc820-host init --force again");
        }
        done_ += (done_.empty() ? "" : ", ") + std::string(replaces);
    }

private:
    std::string done_;
};

void InitHost(const std::string& root, bool force, const std::string& hostBinary) {
    HostPaths paths(root);
    if (!force) RefuseUnlessEmpty(paths);
    HostLock lock = HostLock::createAndLock(paths);
    LayingOut layout;
    layout.step("the tools", [&] { LayOutTools(paths, hostBinary); });
    CreateLog(paths);
    Sc820Card card(paths);
    layout.step("the EEPROM record", [&] { card.storeEeprom(DefaultEepromRecord()); });
    layout.step("the factory record", [&] { card.storeFactory(DefaultFactoryRecord()); });
    layout.step("the flash", [&] { card.storeFlash(DefaultFlashImage()); });
    layout.step("the kernel state", [&] { ResetKernel(paths); });
}

void RepairHost(const std::string& root, const std::string& hostBinary) {
    HostPaths paths(root);
    struct stat info {};
    if (lstat(paths.lockFile().c_str(), &info) != 0 ||
        lstat(paths.eepromFile().c_str(), &info) != 0)
        throw HostError(NoHostMessage(paths.root()));
    RequireHostFolders(paths);
    (void)MendHostFile(paths.lockFile(), "");
    HostLock lock(paths);
    // The card's files are kept; one that is not a plain file of the host's is made one.
    (void)MendHostFile(paths.eepromFile(), DefaultEepromRecord());
    (void)MendHostFile(paths.factoryFile(), DefaultFactoryRecord());
    (void)MendHostFile(paths.flashFile(), DefaultFlashImage());
    (void)MendHostFile(UtilityClientLockFile(paths), "");
    LayOutTools(paths, hostBinary);
    CreateLog(paths);
    ResetKernel(paths);
}

}  // namespace emu
