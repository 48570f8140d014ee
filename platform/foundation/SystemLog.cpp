// NSLog: one entry in the emulated host's system log per call.
#include <cstdarg>
#include <filesystem>

#include "emulator/host/HostRoot.h"
#include "platform/foundation/Formatting.h"
#include "platform/foundation/Foundation.h"

namespace {

std::string ProgramName() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("unknown") : exe.filename().string();
}

}  // namespace

void NSLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    emu::AppendSystemLog(emu::DefaultHostRoot(), ProgramName(), text);
}
