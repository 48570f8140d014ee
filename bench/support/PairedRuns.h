// Side-by-side measurement: the sides of a comparison run alternately within one run, so that
// whatever else loads the machine (other builds, the disk) hits every side alike. Results are
// medians, and a ratio is the median of the per-round ratios, not the ratio of two medians.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// One run of one side; returns the measured quantity (seconds, unless the caller says other).
using Side = std::function<double()>;

// The middle value; the mean of the two middle values for an even count; 0 for none.
double Median(std::vector<double> values);

// The median over rounds of numerator[i] / denominator[i]; rounds with a zero denominator are
// left out. Both vectors hold one value per round.
double MedianRatio(const std::vector<double>& numerator, const std::vector<double>& denominator);

// Runs every side once per round, for `rounds` rounds. Round r starts with side r mod n and
// goes on in order, so no side always runs first (or right after the same neighbour).
// result[s][r] is what side s measured in round r.
std::vector<std::vector<double>> RunInterleaved(const std::vector<Side>& sides, int rounds);

// Seconds on the monotonic clock since the stopwatch was made.
class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

// The machine's 1, 5 and 15 minute load averages and its processor count, for the report.
std::string MachineLoad();

// This process's own peak resident memory so far, in KiB. A child's peak as wait4 reports it
// is never below what the parent held when it started the child (the high-water mark is
// carried across exec), so a benchmark that reports a child's peak must stay smaller itself.
long OwnPeakKib();

// The value of `--rounds N` among the arguments, or the fallback.
int RoundsArgument(int argc, char** argv, int fallback);

// A table with a title, a header row and rows of cells, printed with aligned columns.
using TableRow = std::vector<std::string>;
void PrintTable(const std::string& title, const TableRow& header,
                const std::vector<TableRow>& rows);

// "12.34 ms", "83.2 µs" and the like, for a duration in seconds.
std::string FormatSeconds(double seconds);
// "2.97×" for a ratio.
std::string FormatRatio(double ratio);
