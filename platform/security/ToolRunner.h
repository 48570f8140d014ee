// Running a privileged tool of the emulated host, as the authorization stand-in does for a
// caller that holds the right.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "platform/security/Security.h"

namespace security {

// The tool's absolute path inside the host root, or nothing when it is not an executable file.
std::optional<std::string> ResolveTool(const char* pathToTool);

// Runs the tool to its end, or stops it once it has run too long, with its output discarded.
// `name` is the path as the caller gave it, for the system log.
OSStatus RunWithoutStream(const std::string& tool, const char* name, char* const* arguments);

// Starts the tool; its output comes back through `stream`, whose fclose ends and reaps it. The
// output ends after a long silence, or once the tool has run too long (it is then stopped).
OSStatus RunWithStream(const std::string& tool, const char* name, char* const* arguments,
                       FILE** stream);

}  // namespace security
