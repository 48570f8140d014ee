// How the program ends, as its caller sees the exit status. Every interface (the window, the
// terminal, the batch mode) ends with one of these; the man page and the README list them.
#pragma once

// The work asked for was done: the window closed with the form stored, --help, --version.
inline constexpr int kExitSuccess = 0;
// An alert reported a failure or a refusal and ended the program (no host, the card's driver
// in use or unreachable, a failed path test or first read), or the program could not start
// (no display and no terminal, a window description that cannot be loaded).
inline constexpr int kExitFailure = 1;
// The command line was wrong.
inline constexpr int kExitUsage = 2;
// An automation script could not be followed.
inline constexpr int kExitScriptError = 3;
// The user declined: Cancel at the start-up question or in the main window (nothing stored),
// or an automation script that ran out while the window was idle.
inline constexpr int kExitDeclined = 4;
// Interrupted by Ctrl-C (SIGINT): the status a shell reports for it.
inline constexpr int kExitInterrupted = 130;
