// The console report of the benchmarks that pair the library's code
// ("name/fast") with the reference code of the tests ("name/oracle"): it
// keeps each benchmark's CPU time (the median of the repetitions with
// --benchmark_repetitions) and counters, and prints the ratio of each pair
// at the end.
#ifndef VANTOREL_BENCH_RATIO_REPORTER_H
#define VANTOREL_BENCH_RATIO_REPORTER_H

#include <benchmark/benchmark.h>

#include <map>
#include <string>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override;
    // "oracle / fast" for every pair, one line each.
    void PrintRatios();
    // The CPU time of a benchmark in microseconds, or null when it did not run.
    const double *TimeOf(const std::string &name) const;
    // The largest value of a counter among the library's benchmarks (every
    // one but the references).
    double MostOf(const std::string &counter) const;

private:
    std::map<std::string, double> times_;
    std::map<std::string, double> medians_;
    std::map<std::string, std::map<std::string, double>> counters_;
};

#endif  // VANTOREL_BENCH_RATIO_REPORTER_H
