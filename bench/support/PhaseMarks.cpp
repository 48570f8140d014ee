#include "bench/support/PhaseMarks.h"

#include <cstdio>
#include <sstream>

#include "bench/support/PairedRuns.h"

std::map<std::string, long long> ParseMarks(const std::string& output) {
    std::map<std::string, long long> marks;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("mark ", 0) != 0) continue;
        std::istringstream fields(line.substr(5));
        std::string name;
        long long nanos = 0;
        if (fields >> name >> nanos) marks[name] = nanos;
    }
    return marks;
}

std::optional<double> PhaseMedian(const std::vector<PhaseRun>& runs, const char* from,
                                  const char* to) {
    std::vector<double> durations;
    for (const PhaseRun& run : runs) {
        auto at = [&run](const char* mark, long long fallback) -> std::optional<long long> {
            if (mark == nullptr) return fallback;
            const auto found = run.marks.find(mark);
            if (found == run.marks.end()) return std::nullopt;
            return found->second;
        };
        const std::optional<long long> begin = at(from, run.start);
        const std::optional<long long> finish = at(to, run.end);
        if (!begin || !finish) return std::nullopt;
        durations.push_back(static_cast<double>(*finish - *begin) / 1e9);
    }
    return Median(durations);
}
