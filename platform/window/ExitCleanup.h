// What must happen before the program ends by _exit (terminate, the automation's exit): a
// backend that changed the terminal registers how to put it back.
#pragma once

// Registers a cleanup; it runs once, at the first RunExitCleanups, in reverse order.
void AddExitCleanup(void (*cleanup)());
void RunExitCleanups();
// Ends the program with `status` after the cleanups, its output flushed.
[[noreturn]] void ExitProgram(int status);
