#include "bench/support/PairedRuns.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    if (values.size() % 2 == 1) return values[mid];
    return (values[mid - 1] + values[mid]) / 2;
}

double MedianRatio(const std::vector<double>& numerator, const std::vector<double>& denominator) {
    std::vector<double> ratios;
    const size_t rounds = std::min(numerator.size(), denominator.size());
    for (size_t i = 0; i < rounds; ++i) {
        if (denominator[i] != 0) ratios.push_back(numerator[i] / denominator[i]);
    }
    return Median(ratios);
}

std::vector<std::vector<double>> RunInterleaved(const std::vector<Side>& sides, int rounds) {
    const size_t n = sides.size();
    std::vector<std::vector<double>> results(n);
    for (int r = 0; r < rounds; ++r) {
        for (size_t k = 0; k < n; ++k) {
            const size_t s = (static_cast<size_t>(r) + k) % n;
            results[s].push_back(sides[s]());
        }
    }
    return results;
}

std::string MachineLoad() {
    std::ifstream in("/proc/loadavg");
    double one = 0, five = 0, fifteen = 0;
    in >> one >> five >> fifteen;
    char text[128];
    std::snprintf(text, sizeof text, "load average %.2f %.2f %.2f on %ld processors", one, five,
                  fifteen, sysconf(_SC_NPROCESSORS_ONLN));
    return text;
}

long OwnPeakKib() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int RoundsArgument(int argc, char** argv, int fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0) {
            const int rounds = std::atoi(argv[i + 1]);
            return rounds > 0 ? rounds : fallback;
        }
    }
    return fallback;
}

namespace {

// Display width of a UTF-8 text: the bytes that do not continue a character.
size_t Width(const std::string& text) {
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Padded(const std::string& text, size_t width) {
    const size_t w = Width(text);
    return text + std::string(w < width ? width - w : 0, ' ');
}

}  // namespace

void PrintTable(const std::string& title, const TableRow& header,
                const std::vector<TableRow>& rows) {
    std::vector<TableRow> all = {header};
    all.insert(all.end(), rows.begin(), rows.end());
    std::vector<size_t> widths(header.size(), 0);
    for (const TableRow& row : all) {
        for (size_t c = 0; c < row.size() && c < widths.size(); ++c) {
            widths[c] = std::max(widths[c], Width(row[c]));
        }
    }
    std::printf("\n%s\n", title.c_str());
    for (size_t i = 0; i < all.size(); ++i) {
        std::string line = "|";
        for (size_t c = 0; c < widths.size(); ++c) {
            line += " " + Padded(c < all[i].size() ? all[i][c] : "", widths[c]) + " |";
        }
        std::printf("%s\n", line.c_str());
        if (i == 0) {
            std::string rule = "|";
            for (size_t w : widths) rule += std::string(w + 2, '-') + "|";
            std::printf("%s\n", rule.c_str());
        }
    }
    std::fflush(stdout);
}

std::string FormatSeconds(double seconds) {
    char text[64];
    if (seconds >= 1) {
        std::snprintf(text, sizeof text, "%.3f s", seconds);
    } else if (seconds >= 1e-3) {
        std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.1f µs", seconds * 1e6);
    }
    return text;
}

std::string FormatRatio(double ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f×", ratio);
    return text;
}
