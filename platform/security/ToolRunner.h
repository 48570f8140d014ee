// Running a privileged tool of the emulated host, as the authorization stand-in does for a
// caller that holds the right.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/security/Security.h"

namespace security {

// The tool's absolute path inside the host root, or nothing when it is not an executable file.
std::optional<std::string> ResolveTool(const char* pathToTool);

// How long a tool may go on before the utility stops waiting for it; the defaults are the
// utility's.
struct ToolLimits {
    // Silent, its output still open, before the reader stops waiting.
    std::chrono::milliseconds silence{10000};
    // In all, printing or not: one that keeps printing (a status tool stuck in a loop) would
    // otherwise hold the utility for ever.
    std::chrono::milliseconds run{20000};
    // After the utility has closed its output, and after it was asked to stop, before it is
    // stopped by force.
    std::chrono::milliseconds grace{2000};
    std::chrono::milliseconds stopGrace{1000};
};

// Runs the tool to its end, or stops it once it has run too long, with its output discarded.
// `name` is the path as the caller gave it, for the system log.
OSStatus RunWithoutStream(const std::string& tool, const char* name, char* const* arguments,
                          const ToolLimits& limits = {});

// Starts the tool; its output comes back through `stream`, whose fclose ends and reaps it. The
// output ends after a long silence, or once the tool has run too long (it is then stopped).
OSStatus RunWithStream(const std::string& tool, const char* name, char* const* arguments,
                       FILE** stream, const ToolLimits& limits = {});

}  // namespace security
