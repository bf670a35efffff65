#include "ratio_reporter.h"

#include <algorithm>
#include <cstdio>

void RatioReporter::ReportRuns(const std::vector<Run> &runs) {
    for (const Run &run : runs) {
        if (run.error_occurred) continue;
        // With --benchmark_repetitions the median stands for the benchmark.
        if (run.run_type == Run::RT_Aggregate) {
            if (run.aggregate_name == "median") medians_[run.run_name.str()] = run.GetAdjustedCPUTime();
            continue;
        }
        times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
        for (const auto &[counter, value] : run.counters) counters_[counter][run.benchmark_name()] = value;
    }
    ConsoleReporter::ReportRuns(runs);
}

void RatioReporter::PrintRatios() {
    for (const auto &[name, time] : medians_) times_[name] = time;
    std::printf("\n%-48s %12s %12s %8s\n", "oracle / fast (CPU time)", "fast us", "oracle us", "ratio");
    const std::string suffix = "/fast";
    for (const auto &[name, time] : times_) {
        if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string base = name.substr(0, name.size() - suffix.size());
        const auto oracle = times_.find(base + "/oracle");
        if (oracle == times_.end()) continue;
        std::printf("%-48s %12.1f %12.1f %7.1fx\n", base.c_str(), time, oracle->second, oracle->second / time);
    }
}

const double *RatioReporter::TimeOf(const std::string &name) const {
    const auto at = times_.find(name);
    return at != times_.end() ? &at->second : nullptr;
}

double RatioReporter::MostOf(const std::string &counter) const {
    double most = 0;
    const auto values = counters_.find(counter);
    if (values == counters_.end()) return most;
    for (const auto &[name, value] : values->second)
        if (name.find("/oracle") == std::string::npos) most = std::max(most, value);
    return most;
}
