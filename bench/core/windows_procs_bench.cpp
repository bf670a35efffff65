// The Windows process derivation at the capacity (2048 processes), today's
// code ("fast": previous counters found by hash, only the records the
// previous collection filled cleared) against the straightforward code it
// replaced ("oracle": a scan of the previous times for every pid, the whole
// array cleared, the table rebuilt from the records). Both derive the same
// two alternating collections: the same processes in the same order, their
// times grown, one in a hundred replaced by a new one. The ratio of their
// CPU times (the median with --benchmark_repetitions) is printed at the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "proc_walk.h"
#include "oracle_windows_procs.h"
#include "ratio_reporter.h"
#include "sysmon_internal.h"

namespace {

struct listed_proc {
    uint32_t pid;
    uint32_t ppid;
    uint32_t threads;
    std::string name;
    uint64_t working_set;
    uint64_t kernel_time;
    uint64_t user_time;
    uint64_t read_transfer;
    uint64_t write_transfer;
};

constexpr uint64_t kMemoryTotal = uint64_t{16} << 30;

// Two collections of SYSMON_MAX_PROCS processes, derived in turn.
std::vector<listed_proc> s_lists[2];

void make_lists() {
    static const char *const kNames[] = {"svchost.exe", "RuntimeBroker.exe", "chrome.exe",
                                         "conhost.exe", "explorer.exe", "MsMpEng.exe",
                                         "SearchIndexer.exe", "dllhost.exe"};
    std::mt19937_64 rng(7);
    uint32_t next_pid = 8;
    auto fresh = [&]() {
        listed_proc p;
        next_pid += 4 * (1 + static_cast<uint32_t>(rng() % 8));
        p.pid = next_pid;
        p.ppid = 4 + 4 * static_cast<uint32_t>(rng() % 500);
        p.threads = 1 + static_cast<uint32_t>(rng() % 60);
        p.name = kNames[rng() % 8];
        p.working_set = rng() % (uint64_t{1} << 30);
        p.kernel_time = rng() % 100000000;
        p.user_time = rng() % 100000000;
        p.read_transfer = rng() % 100000000;
        p.write_transfer = rng() % 100000000;
        return p;
    };
    for (int i = 0; i < SYSMON_MAX_PROCS; ++i) s_lists[0].push_back(fresh());
    s_lists[1] = s_lists[0];
    for (listed_proc &p : s_lists[1]) {
        if (rng() % 100 == 0) {
            p = fresh();
            continue;
        }
        p.user_time += rng() % 5000000;
        p.kernel_time += rng() % 1000000;
        p.read_transfer += rng() % 100000;
    }
}

void BM_fast(benchmark::State &state) {
    auto procs = std::make_unique<sysmon_proc_info[]>(SYSMON_MAX_PROCS);
    auto tables = std::make_unique<proc_table[]>(2);
    used_records used = {};
    int newest = 0;
    int32_t count = 0;
    for (auto _ : state) {
        const std::vector<listed_proc> &list = s_lists[newest];
        proc_walk walk;
        derive_proc_walk_begin(&walk, procs.get(), &count, SYSMON_MAX_PROCS, &tables[newest],
                               &tables[1 - newest], 1.0, kMemoryTotal, &used);
        for (const listed_proc &p : list) {
            const proc_identity identity = {p.pid, p.ppid, p.threads, p.name.c_str(),
                                            p.name.size() + 1};
            sysmon_proc_info *proc = derive_proc_walk_add(&walk, &identity);
            if (proc == nullptr) break;
            const proc_figures figures = {1, p.working_set, 1, p.kernel_time, p.user_time,
                                          1, p.read_transfer, p.write_transfer};
            derive_proc_apply_figures(&walk, proc, &figures);
            derive_proc_set_status(proc, 0);
        }
        derive_proc_walk_end(&walk, &count);
        newest = 1 - newest;
        benchmark::DoNotOptimize(procs.get());
        benchmark::ClobberMemory();
    }
    state.counters["records"] = count;
}

void BM_oracle(benchmark::State &state) {
    auto procs = std::make_unique<sysmon_proc_info[]>(SYSMON_MAX_PROCS);
    std::vector<oracle_prev_proc_entry> prev[2] = {
        std::vector<oracle_prev_proc_entry>(SYSMON_MAX_PROCS),
        std::vector<oracle_prev_proc_entry>(SYSMON_MAX_PROCS)};
    int32_t prev_count[2] = {0, 0};
    int newest = 0;
    int32_t count = 0;
    for (auto _ : state) {
        const std::vector<listed_proc> &list = s_lists[newest];
        oracle_proc_walk walk;
        oracle_proc_walk_begin(&walk, procs.get(), &count, SYSMON_MAX_PROCS);
        for (const listed_proc &p : list) {
            sysmon_proc_info *proc = oracle_proc_walk_next(&walk);
            if (proc == nullptr) break;
            const oracle_proc_entry entry = {p.pid, p.ppid, p.threads, p.name.c_str(),
                                             p.name.size() + 1};
            if (!oracle_proc_fill_identity(proc, &entry)) continue;
            oracle_proc_apply_memory(proc, p.working_set, kMemoryTotal);
            oracle_proc_apply_times(proc, p.kernel_time, p.user_time, prev[newest].data(),
                                    prev_count[newest], 1.0);
        }
        oracle_proc_walk_end(&walk, &count, prev[1 - newest].data(), &prev_count[1 - newest]);
        newest = 1 - newest;
        benchmark::DoNotOptimize(procs.get());
        benchmark::ClobberMemory();
    }
    state.counters["records"] = count;
}

}  // namespace

int main(int argc, char **argv) {
    make_lists();
    benchmark::RegisterBenchmark("windows/process-derivation(2048)/fast", BM_fast)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("windows/process-derivation(2048)/oracle", BM_oracle)
        ->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
