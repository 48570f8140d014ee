// The phases of a child program's run, from the "mark NAME NANOSECONDS" lines it prints
// (bench/support/Marks.h) and the times its parent took just before starting it and after it
// exited, all on the monotonic clock.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

struct PhaseRun {
    std::map<std::string, long long> marks;
    long long start = 0;  // just before the child was started
    long long end = 0;    // after the child had exited
};

// The marks among a child's output lines. Lines that are not marks (Qt's own warnings share
// the stream) are skipped, as is a mark without a number.
std::map<std::string, long long> ParseMarks(const std::string& output);

// The median over the runs of the seconds from mark `from` to mark `to`; a null `from` stands
// for the child's start and a null `to` for its exit. Empty when a run lacks either mark.
std::optional<double> PhaseMedian(const std::vector<PhaseRun>& runs, const char* from,
                                  const char* to);
