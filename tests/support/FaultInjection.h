// Fails chosen file operations of a process, to see what it reports when a disk fails under
// it. The calls are counted and failed per kind of operation, and only those that touch a
// path under a given prefix count. Built into a test program, it is armed with Arm(); built as
// a preload library, from the environment at start:
//   SC820_FAULT=KIND:N:ERRNO  fail the Nth call of KIND (open, write, sync, rename) with ERRNO
//                             (a number); N 0 only counts
//   SC820_FAULT_PATH=PREFIX   only calls on paths that start with PREFIX count
//   SC820_FAULT_COUNTS=FILE   at exit, write "KIND COUNT" lines and "failed 0|1" into FILE
#pragma once

#include <string>

namespace faults {

enum class Kind { open, write, sync, rename, count };
inline constexpr const char* kKindNames[] = {"open", "write", "sync", "rename"};

// Starts counting afresh; the `nth` call of `kind` under `prefix` (1 is the first) fails with
// `error`. nth 0 fails nothing.
void Arm(Kind kind, unsigned nth, int error, const std::string& prefix);
void Disarm();
// Counts and fails again as armed, where Disarm left off.
void Resume();
// The calls of `kind` counted since Arm, and whether the armed one has failed.
unsigned Counted(Kind kind);
bool Failed();
// Writes the counts into the file SC820_FAULT_COUNTS names, if any (done at exit).
void WriteCountsNow();

}  // namespace faults
