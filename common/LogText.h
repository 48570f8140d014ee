// The escaping of text written as one line of a log: the system log and the automation's
// transcript.
#pragma once

#include <string>

namespace sc820 {

// Backslashes and control characters become \\, \n, \r, \t or \xHH; everything else, bytes of
// any encoding included, is kept as it is.
std::string EscapeLogText(const std::string& text);

}  // namespace sc820
