// The batch mode: the third front end. The controller runs its whole start-up over in-memory
// controls; its questions are answered by the request (--yes, --no-backup) or on the terminal,
// its alerts are lines on standard error, and the exit status tells the outcome.
#pragma once

#include <string>

#include "platform/window/CommandLine.h"

int RunBatch(const BatchRequest& request, const std::string& program);
