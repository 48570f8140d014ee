// How the program ends, as its caller sees the exit status. Every interface (the window, the
// terminal, the batch mode) ends with one of these; the man page and the README list them.
#pragma once

// The program ended as the user chose: the window closed (the form stored) or Cancel in the
// main window (nothing stored), --help, --version.
inline constexpr int kExitSuccess = 0;
// An alert reported a failure or a refusal and ended the program (no host, the card's driver
// in use or unreachable, a failed path test or first read), or the program could not start
// (no display and no terminal, a window description that cannot be loaded).
inline constexpr int kExitFailure = 1;
// The command line was wrong.
inline constexpr int kExitUsage = 2;
// An automation script could not be followed.
inline constexpr int kExitScriptError = 3;
// The user declined to go on: Cancel at the start-up question (the drivers are unchanged) or
// in the password dialog.
inline constexpr int kExitDeclined = 4;
// Interrupted by Ctrl-C (SIGINT): the status a shell reports for it.
inline constexpr int kExitInterrupted = 130;
