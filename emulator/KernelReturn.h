// Status values of the emulated kernel, as its user clients return them. They are the
// platform's kernel values; the registry stand-in hands them to the utility unchanged.
#pragma once

#include <cstdint>

namespace emu {

using KernReturn = int32_t;

inline constexpr KernReturn kKernSuccess = 0;
inline constexpr KernReturn kKernError = static_cast<KernReturn>(0xe00002bc);
inline constexpr KernReturn kKernBadArgument = static_cast<KernReturn>(0xe00002c2);
inline constexpr KernReturn kKernNotAttached = static_cast<KernReturn>(0xe00002d9);
inline constexpr KernReturn kKernExclusiveAccess = static_cast<KernReturn>(0xe00002c5);
inline constexpr KernReturn kKernNotPermitted = static_cast<KernReturn>(0xe00002e2);

}  // namespace emu
