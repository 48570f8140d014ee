// The registry stand-in: each call is one kernel operation on the emulated host that the
// master port was bound to; the emulated kernel decides every rule and fault, and this file
// only translates calls and handles (HandleTable.h).
#include "platform/registry/IOKit.h"

#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "emulator/Emulator.h"
#include "platform/registry/HandleTable.h"

namespace {

using namespace registry_internal;

constexpr mach_port_t kTaskSelf = 0x203;
using FoundEntry = emu::ServiceRef;

// A host that cannot be reached is explained on standard error; the caller only sees a status.
void Report(const char* call, const std::string& problem) {
    std::cerr << call << ": " << problem << "\n";
}

CFMutableDictionaryRef NewDictionary(const char* call, bool byClass, const char* value) {
    if (value == nullptr) return nullptr;
    std::string problem;
    const bool available = emu::KernelMatchingAvailable(emu::DefaultHostRoot(), &problem);
    if (!problem.empty()) Report(call, problem);  // the search that follows fails on its own
    if (!available) return nullptr;
    auto* dictionary = new __IOMatchingDictionary{byClass, value};
    LiveDictionaries().insert(dictionary);
    return dictionary;
}

// Takes a matching dictionary over; null when it is not one this process holds.
std::unique_ptr<const __IOMatchingDictionary> TakeDictionary(CFDictionaryRef matching) {
    if (LiveDictionaries().erase(matching) == 0) return nullptr;
    return std::unique_ptr<const __IOMatchingDictionary>(matching);
}

uint32_t NewObject(const std::string& root, FoundEntry entry) {
    return Handles().add(Handle{HandleKind::object, root, {}, 0, std::move(entry)});
}

IOReturn CallDriver(io_connect_t connect, emu::UserClientCall& call) {
    Handle* connection = Handles().find(connect, HandleKind::connection);
    if (connection == nullptr) return kIOReturnBadArgument;
    std::string problem;
    IOReturn status =
        emu::CallUtilityDriver(connection->root, connection->entry.id, call, &problem);
    if (!problem.empty()) Report("io_connect_method", problem);
    return status;
}

}  // namespace

kern_return_t IOMasterPort(mach_port_t /*bootstrapPort*/, mach_port_t* masterPort) {
    if (masterPort == nullptr) return KERN_INVALID_ARGUMENT;
    *masterPort = MACH_PORT_NULL;
    std::string root = emu::DefaultHostRoot();
    std::string problem;
    kern_return_t status = emu::KernelMasterPort(root, &problem);
    if (!problem.empty()) Report("IOMasterPort", problem);
    if (status != KERN_SUCCESS) return status;
    *masterPort = Handles().add(Handle{HandleKind::masterPort, root, {}, 0, {}});
    return KERN_SUCCESS;
}

CFMutableDictionaryRef IOServiceMatching(const char* className) {
    return NewDictionary("IOServiceMatching", true, className);
}

CFMutableDictionaryRef IOServiceNameMatching(const char* name) {
    return NewDictionary("IOServiceNameMatching", false, name);
}

kern_return_t IOServiceGetMatchingServices(mach_port_t masterPort, CFDictionaryRef matching,
                                           io_iterator_t* existing) {
    auto dictionary = TakeDictionary(matching);  // consumed whatever the outcome
    if (existing != nullptr) *existing = IO_OBJECT_NULL;
    Handle* port = Handles().find(masterPort, HandleKind::masterPort);
    if (dictionary == nullptr || existing == nullptr || port == nullptr)
        return kIOReturnBadArgument;
    std::string root = port->root;
    std::vector<FoundEntry> found;
    std::string problem;
    kern_return_t status = emu::KernelMatchServices(
        root, dictionary->byClass ? emu::MatchBy::className : emu::MatchBy::name, dictionary->value,
        &found, &problem);
    if (!problem.empty()) Report("IOServiceGetMatchingServices", problem);
    if (status != KERN_SUCCESS) return status;
    *existing = Handles().add(Handle{HandleKind::iterator, root, std::move(found), 0, {}});
    return KERN_SUCCESS;
}

io_object_t IOIteratorNext(io_iterator_t iterator) {
    Handle* it = Handles().find(iterator, HandleKind::iterator);
    if (it == nullptr || it->next >= it->found.size()) return IO_OBJECT_NULL;
    FoundEntry entry = it->found[it->next++];
    return NewObject(it->root, std::move(entry));
}

kern_return_t IORegistryEntryGetParentEntry(io_registry_entry_t entry, const char* plane,
                                            io_registry_entry_t* parent) {
    if (parent == nullptr) return kIOReturnBadArgument;
    *parent = IO_OBJECT_NULL;
    Handle* object = Handles().find(entry, HandleKind::object);
    if (object == nullptr || plane == nullptr || std::strcmp(plane, kIOServicePlane) != 0) {
        return kIOReturnBadArgument;
    }
    std::string root = object->root;
    FoundEntry found;
    std::string problem;
    kern_return_t status = emu::KernelParentEntry(root, object->entry.id, &found, &problem);
    if (!problem.empty()) Report("IORegistryEntryGetParentEntry", problem);
    if (status != KERN_SUCCESS) return status;
    *parent = NewObject(root, std::move(found));
    return KERN_SUCCESS;
}

kern_return_t IOObjectGetClass(io_object_t object, io_name_t className) {
    Handle* h = Handles().find(object, HandleKind::object);
    if (h == nullptr || className == nullptr) return kIOReturnBadArgument;
    size_t length = std::min(h->entry.className.size(), sizeof(io_name_t) - 1);
    std::memcpy(className, h->entry.className.data(), length);
    className[length] = '\0';
    return KERN_SUCCESS;
}

kern_return_t IOObjectRelease(io_object_t object) {
    if (Handles().remove(object, HandleKind::object) ||
        Handles().remove(object, HandleKind::iterator)) {
        return KERN_SUCCESS;
    }
    if (object != IO_OBJECT_NULL) {
        ++Handles().strayReleases;
        Report("IOObjectRelease", "the handle is not held");
    }
    return kIOReturnBadArgument;
}

kern_return_t IOServiceOpen(io_service_t service, mach_port_t owningTask, uint32_t type,
                            io_connect_t* connect) {
    if (connect == nullptr) return kIOReturnBadArgument;
    *connect = IO_OBJECT_NULL;
    Handle* object = Handles().find(service, HandleKind::object);
    if (object == nullptr || owningTask != kTaskSelf) return kIOReturnBadArgument;
    std::string root = object->root;
    FoundEntry entry = object->entry;
    std::string problem;
    kern_return_t status = emu::KernelOpenUserClient(root, entry.id, type, &problem);
    if (!problem.empty()) Report("IOServiceOpen", problem);
    if (status != KERN_SUCCESS) return status;
    *connect = Handles().add(Handle{HandleKind::connection, root, {}, 0, std::move(entry)});
    return KERN_SUCCESS;
}

kern_return_t IOServiceClose(io_connect_t connect) {
    return Handles().remove(connect, HandleKind::connection) ? KERN_SUCCESS : kIOReturnBadArgument;
}

mach_port_t mach_task_self() {
    return kTaskSelf;
}

kern_return_t mach_port_deallocate(mach_port_t task, mach_port_t name) {
    if (task != kTaskSelf) return KERN_INVALID_ARGUMENT;
    return Handles().remove(name, HandleKind::masterPort) ? KERN_SUCCESS : KERN_INVALID_NAME;
}

kern_return_t io_connect_method_scalarI_structureI(io_connect_t connect, int selector,
                                                   int* scalarInput,
                                                   mach_msg_type_number_t scalarInputCount,
                                                   char* structureInput,
                                                   mach_msg_type_number_t structureInputSize) {
    if ((scalarInputCount > 0 && scalarInput == nullptr) ||
        (structureInputSize > 0 && structureInput == nullptr)) {
        return kIOReturnBadArgument;
    }
    emu::UserClientCall call;
    call.form = emu::CallForm::structureInput;
    call.selector = selector;
    call.scalarCount = scalarInputCount;
    call.structure = reinterpret_cast<uint8_t*>(structureInput);
    call.size = structureInputSize;
    return CallDriver(connect, call);
}

kern_return_t io_connect_method_scalarI_structureO(io_connect_t connect, int selector,
                                                   int* scalarInput,
                                                   mach_msg_type_number_t scalarInputCount,
                                                   char* structureOutput,
                                                   mach_msg_type_number_t* structureOutputSize) {
    if ((scalarInputCount > 0 && scalarInput == nullptr) || structureOutputSize == nullptr ||
        (*structureOutputSize > 0 && structureOutput == nullptr)) {
        return kIOReturnBadArgument;
    }
    emu::UserClientCall call;
    call.form = emu::CallForm::structureOutput;
    call.selector = selector;
    call.scalarCount = scalarInputCount;
    call.structure = reinterpret_cast<uint8_t*>(structureOutput);
    call.size = *structureOutputSize;
    IOReturn status = CallDriver(connect, call);
    if (status == kIOReturnSuccess) *structureOutputSize = call.produced;
    return status;
}
