// Where the emulated host lives, and its system log. Shared by the emulator, its tools and the
// platform stand-ins that reach it.
#pragma once

#include <string>

namespace emu {

// SC820_HOST_ROOT when set and not empty, else ${XDG_STATE_HOME:-$HOME/.local/state}/sc820/host,
// the home folder taken by the project's one rule (common/HomeFolder.h).
std::string DefaultHostRoot();

// Appends one entry to <root>/var/log/system.log and echoes it to standard error:
//   YYYY-MM-DD HH:MM:SS.mmm PROGRAM[PID]: TEXT
// Backslashes and control characters in TEXT are escaped (\\, \n, \r, \t, \xHH) so that each
// entry is exactly one line. When the log cannot be opened the entry still goes to standard
// error. The echo leaves out the line ends at the end of TEXT. The append is one write(2) on a file
// opened with O_APPEND, so concurrent writers never interleave within an entry.
void AppendSystemLog(const std::string& root, const std::string& program, const std::string& text);

// The escaping used by the system log.
std::string EscapeLogText(const std::string& text);

}  // namespace emu
