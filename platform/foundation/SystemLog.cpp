// NSLog: one entry in the emulated host's system log per call.
#include <cstdarg>

#include "common/ProgramPath.h"
#include "emulator/Emulator.h"
#include "platform/foundation/Formatting.h"
#include "platform/foundation/Foundation.h"

void NSLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    emu::AppendSystemLog(emu::DefaultHostRoot(), sc820::ProgramName(), text);
}
