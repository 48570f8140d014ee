// The emulated host's system log, written by the host's tools and by the utility's NSLog.
#pragma once

#include <string>

namespace emu {

// Appends one entry to <root>/var/log/system.log and echoes it to standard error:
//   YYYY-MM-DD HH:MM:SS.mmm PROGRAM[PID]: TEXT
// Backslashes and control characters in TEXT are escaped (common/LogText.h) so that each
// entry is exactly one line. When the log cannot be opened the entry still goes to standard
// error. The echo leaves out the line ends at the end of TEXT. The append is one write(2) on a file
// opened with O_APPEND, so concurrent writers never interleave within an entry.
void AppendSystemLog(const std::string& root, const std::string& program, const std::string& text);

}  // namespace emu
