// Status values of the kernel's registry and user-client calls. The emulated kernel returns
// them and the registry calls hand them to the utility unchanged, so both sides of that
// boundary use this one list, with the platform's names and values.
#pragma once

typedef int kern_return_t;
typedef kern_return_t IOReturn;

inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t KERN_INVALID_ARGUMENT = 4;
inline constexpr kern_return_t KERN_FAILURE = 5;
inline constexpr kern_return_t KERN_INVALID_NAME = 15;

inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnError = static_cast<IOReturn>(0xe00002bc);
inline constexpr IOReturn kIOReturnNoMemory = static_cast<IOReturn>(0xe00002bd);
inline constexpr IOReturn kIOReturnNotPrivileged = static_cast<IOReturn>(0xe00002c1);
inline constexpr IOReturn kIOReturnBadArgument = static_cast<IOReturn>(0xe00002c2);
inline constexpr IOReturn kIOReturnExclusiveAccess = static_cast<IOReturn>(0xe00002c5);
inline constexpr IOReturn kIOReturnUnsupported = static_cast<IOReturn>(0xe00002c7);
inline constexpr IOReturn kIOReturnNotOpen = static_cast<IOReturn>(0xe00002cd);
inline constexpr IOReturn kIOReturnNotAttached = static_cast<IOReturn>(0xe00002d9);
inline constexpr IOReturn kIOReturnNotPermitted = static_cast<IOReturn>(0xe00002e2);
inline constexpr IOReturn kIOReturnNotFound = static_cast<IOReturn>(0xe00002f0);
