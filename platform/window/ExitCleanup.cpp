#include "platform/window/ExitCleanup.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

std::vector<void (*)()>& Cleanups() {
    static std::vector<void (*)()> cleanups;
    return cleanups;
}

}  // namespace

void AddExitCleanup(void (*cleanup)()) {
    Cleanups().push_back(cleanup);
}

void RunExitCleanups() {
    std::vector<void (*)()> pending;
    pending.swap(Cleanups());
    for (auto it = pending.rbegin(); it != pending.rend(); ++it) (*it)();
}

void ExitProgram(int status) {
    RunExitCleanups();
    std::fflush(nullptr);
    _exit(status);
}
