// The kernel service registry and user-client calls, with the platform's names and status
// semantics. The registry is the emulated host's: the master port binds to the host root named
// by SC820_HOST_ROOT (or the default host), and every call works on that host's kernel state.
//
// Ownership follows the platform: IOServiceGetMatchingServices consumes the matching
// dictionary whatever its status; every object that IOIteratorNext,
// IORegistryEntryGetParentEntry or IOServiceGetMatchingServices hands out must be released with
// IOObjectRelease; a master port with mach_port_deallocate; a connection with IOServiceClose.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driverif/KernelStatus.h"

typedef uint32_t mach_port_t;
typedef uint32_t mach_msg_type_number_t;
typedef mach_port_t io_object_t;
typedef io_object_t io_service_t;
typedef io_object_t io_iterator_t;
typedef io_object_t io_registry_entry_t;
typedef io_object_t io_connect_t;
typedef char io_name_t[128];

// A matching dictionary. Opaque; created by IOServiceMatching / IOServiceNameMatching and
// consumed by IOServiceGetMatchingServices.
typedef struct __IOMatchingDictionary* CFMutableDictionaryRef;
typedef const struct __IOMatchingDictionary* CFDictionaryRef;

inline constexpr mach_port_t MACH_PORT_NULL = 0;
inline constexpr io_object_t IO_OBJECT_NULL = 0;

inline constexpr const char kIOServicePlane[] = "IOService";

kern_return_t IOMasterPort(mach_port_t bootstrapPort, mach_port_t* masterPort);
CFMutableDictionaryRef IOServiceMatching(const char* className);
CFMutableDictionaryRef IOServiceNameMatching(const char* name);
kern_return_t IOServiceGetMatchingServices(mach_port_t masterPort, CFDictionaryRef matching,
                                           io_iterator_t* existing);
io_object_t IOIteratorNext(io_iterator_t iterator);
kern_return_t IORegistryEntryGetParentEntry(io_registry_entry_t entry, const char* plane,
                                            io_registry_entry_t* parent);
kern_return_t IOObjectGetClass(io_object_t object, io_name_t className);
kern_return_t IOObjectRelease(io_object_t object);
kern_return_t IOServiceOpen(io_service_t service, mach_port_t owningTask, uint32_t type,
                            io_connect_t* connect);
kern_return_t IOServiceClose(io_connect_t connect);

mach_port_t mach_task_self();
kern_return_t mach_port_deallocate(mach_port_t task, mach_port_t name);

kern_return_t io_connect_method_scalarI_structureI(io_connect_t connect, int selector,
                                                   int* scalarInput,
                                                   mach_msg_type_number_t scalarInputCount,
                                                   char* structureInput,
                                                   mach_msg_type_number_t structureInputSize);
kern_return_t io_connect_method_scalarI_structureO(io_connect_t connect, int selector,
                                                   int* scalarInput,
                                                   mach_msg_type_number_t scalarInputCount,
                                                   char* structureOutput,
                                                   mach_msg_type_number_t* structureOutputSize);
