// Benchmarks of the core at the capacity: 2048 processes in a realistic
// parent forest, 64 and 512 logical processors, 300 recorded snapshots.
//
// core/... benchmarks run one writer of the library ("fast") and the same
// document written by the straightforward reference code of the tests
// ("oracle") on the same records; the table printed at the end gives the
// ratio of each pair in CPU time (the median of the repetitions with
// --benchmark_repetitions). reading/... benchmarks call the exported functions,
// fed by collectors that only copy prepared records.
//
// Every benchmark reports per call: "bytes" written, "allocs" made through
// the library's allocator hooks and "mallocs" seen by the C allocator (all
// callers), both counted over calls after a first warm-up call.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_platform.h"
#include "history.h"
#include "oracle_views.h"
#include "ratio_reporter.h"
#include "process_view.h"
#include "runtime_hooks.h"
#include "snapshot.h"
#include "strbuf.h"
#include "sysmon_internal.h"
#include "vantorel/sysmon.h"

extern "C" volatile uint64_t bench_malloc_calls;

namespace {

// ---- Allocation counting ---------------------------------------------------

uint64_t s_hook_allocs = 0;

void *counting_alloc(size_t size) {
    ++s_hook_allocs;
    return sysmon_default_hooks.mem_alloc(size);
}

void *counting_realloc(void *block, size_t size) {
    ++s_hook_allocs;
    return sysmon_default_hooks.mem_realloc(block, size);
}

uint64_t malloc_calls() { return __atomic_load_n(&bench_malloc_calls, __ATOMIC_RELAXED); }

// Runs `call` once to reach the steady state, then counts over a few calls
// and stores the per-call figures as counters.
template <typename Call>
void count_per_call(benchmark::State &state, Call call) {
    call();
    constexpr int kCalls = 8;
    const uint64_t hooks_before = s_hook_allocs;
    const uint64_t mallocs_before = malloc_calls();
    size_t bytes = 0;
    for (int i = 0; i < kCalls; ++i) bytes = call();
    // Read both before the counters' map allocates its entries.
    const uint64_t hooks = s_hook_allocs - hooks_before;
    const uint64_t mallocs = malloc_calls() - mallocs_before;
    state.counters["allocs"] = static_cast<double>(hooks) / kCalls;
    state.counters["mallocs"] = static_cast<double>(mallocs) / kCalls;
    state.counters["bytes"] = static_cast<double>(bytes);
}

// ---- The machine -------------------------------------------------------------

void copy_text(char *dest, size_t size, const std::string &text) {
    std::memset(dest, 0, size);
    std::memcpy(dest, text.data(), std::min(size - 1, text.size()));
}

// 2048 processes listed in pid order: two roots with ppid 0, kernel threads
// below pid 2, user processes in trees 1 to 8 levels deep, a few orphans
// whose parent has ended, most processes idle (many ties on the load).
void make_forest(bench_world &w, uint32_t seed) {
    std::mt19937 random(seed);
    static const char *const kNames[] = {
        "bash", "sshd", "chrome", "Chrome", "code", "kworker/0:1", "systemd-journald", "python3",
        "node", "postgres", "nginx", "Xorg", "pipewire", "firefox", "java", "dockerd",
        "containerd-shim", "gnome-shell", "tmux: server", "rsyslogd", "svchost.exe", "explorer.exe"};
    static const char *const kUsers[] = {"root", "alice", "www-data", "postgres", "NT AUTHORITY\\SYSTEM"};
    std::vector<int> depth(SYSMON_MAX_PROCS, 0);
    int32_t pid = 0;
    for (int i = 0; i < SYSMON_MAX_PROCS; ++i) {
        sysmon_proc_info &p = w.procs[i];
        std::memset(&p, 0, sizeof p);
        pid += 1 + static_cast<int32_t>(random() % 7);
        p.pid = i < 2 ? i + 1 : pid + 2;
        const std::string name = i == 0 ? "systemd" : i == 1 ? "kthreadd" : kNames[random() % 22];
        if (i < 2) {
            p.ppid = 0;
        } else if (random() % 100 < 15) {
            p.ppid = 2;
            depth[i] = 1;
        } else if (random() % 100 < 2) {
            p.ppid = 900000 + i;  // the parent has ended
        } else {
            int parent = 0;
            for (int tries = 0; tries < 16; ++tries) {
                parent = static_cast<int>(random() % static_cast<uint32_t>(i));
                if (w.procs[parent].ppid != 2 && depth[parent] < 8) break;
                parent = 0;
            }
            p.ppid = w.procs[parent].pid;
            depth[i] = depth[parent] + 1;
        }
        copy_text(p.name, sizeof p.name, name);
        std::string command = random() % 4 == 0 ? "C:\\Program Files\\" + name + "\\" + name + ".exe \"--profile\""
                                                : "/usr/bin/" + name;
        const int args = static_cast<int>(random() % 8);
        for (int a = 0; a < args; ++a) command += " --option-" + std::to_string(random() % 1000) + "=value";
        copy_text(p.command, sizeof p.command, command);
        copy_text(p.user, sizeof p.user, kUsers[random() % 5]);
        copy_text(p.status, sizeof p.status, random() % 10 == 0 ? "running" : "sleeping");
        p.cpu_percent = random() % 10 < 7 ? 0.0 : static_cast<double>(random() % 250000) / 9973.0;
        p.memory_bytes = 1000000 + (random() % 2000000) * 997ull;
        p.memory_percent = static_cast<double>(p.memory_bytes) / 171798691.84;
        p.threads = 1 + static_cast<int32_t>(random() % 64);
        p.read_bytes_sec = random() % 3 == 0 ? random() % 5000000 : 0;
        p.write_bytes_sec = random() % 3 == 0 ? random() % 5000000 : 0;
    }
    w.procs_count = SYSMON_MAX_PROCS;
}

// The worst case of the filter: every name and command one long run of the
// same letter, and a 127-character filter that fails only at its last one.
void make_filter_worst_case(bench_world &w) {
    for (int i = 0; i < SYSMON_MAX_PROCS; ++i) {
        sysmon_proc_info &p = w.procs[i];
        std::memset(p.name, 'a', sizeof p.name - 1);
        p.name[sizeof p.name - 1] = '\0';
        std::memset(p.command, 'A', sizeof p.command - 1);
        p.command[sizeof p.command - 1] = '\0';
    }
}

std::string filter_worst_case_text() { return std::string(126, 'a') + "b"; }

void make_machine(bench_world &w, int32_t processors) {
    std::mt19937 random(7);
    std::memset(&w.cpu, 0, sizeof w.cpu);
    copy_text(w.cpu.name, sizeof w.cpu.name, "Vantorel Benchmark CPU @ 3.20GHz");
    w.cpu.cores = processors / 2;
    w.cpu.threads = processors;
    w.cpu.total_usage = 37.25;
    w.cpu.frequency_mhz = 3193.4;
    w.cores_count = processors;
    for (int i = 0; i < processors; ++i) w.cores[i].usage = static_cast<double>(random() % 100000) / 997.0;
    w.cpu.temperature_c = 61.5;
    w.mem = sysmon_mem_info{17179869184ull, 9876543210ull, 7303325974ull, 4294967296ull, 8589934592ull, 123456789ull, 0, 0};
    w.disks_count = 8;
    for (int i = 0; i < w.disks_count; ++i) {
        sysmon_disk_info &d = w.disks[i];
        copy_text(d.name, sizeof d.name, "nvme0n1p" + std::to_string(i));
        copy_text(d.mount, sizeof d.mount, i == 0 ? "/" : "/mnt/data" + std::to_string(i));
        copy_text(d.fs, sizeof d.fs, "ext4");
        d.total = 1000204886016ull;
        d.used = 400000000000ull + i;
        d.free = d.total - d.used;
        d.read_bytes_sec = 1048576ull * i;
        d.write_bytes_sec = 524288ull * i;
    }
    w.nets_count = 4;
    for (int i = 0; i < w.nets_count; ++i) {
        sysmon_net_info &e = w.nets[i];
        copy_text(e.name, sizeof e.name, "eth" + std::to_string(i));
        copy_text(e.ip, sizeof e.ip, "192.168.1." + std::to_string(10 + i));
        e.up_bytes_sec = 12345ull * i;
        e.down_bytes_sec = 987654ull * i;
        e.total_sent = 123456789012ull;
        e.total_recv = 987654321098ull;
    }
    copy_text(w.gpu.name, sizeof w.gpu.name, "Vantorel GPU");
    w.gpu.usage_percent = 12.5;
    w.gpu.vram_total = 8589934592ull;
    w.gpu.vram_used = 1073741824ull;
    copy_text(w.gpu.driver, sizeof w.gpu.driver, "31.0.15.3623");
    w.bat = sysmon_battery_info{1, 87, "discharging", 213, 11.25, 94};
    copy_text(w.sys.hostname, sizeof w.sys.hostname, "bench-host");
    copy_text(w.sys.os, sizeof w.sys.os, "Debian GNU/Linux 12 (bookworm)");
    copy_text(w.sys.kernel, sizeof w.sys.kernel, "6.1.0-18-amd64");
    w.sys.uptime_seconds = 864000;
    copy_text(w.sys.boot_time, sizeof w.sys.boot_time, "2026-11-28T08:00:00Z");
    copy_text(w.sys.cpu_arch, sizeof w.sys.cpu_arch, "x86_64");
}

// Puts the machine into the library's records, and 300 snapshots with
// varying loads into the rings.
void load_records(int32_t processors, bool filter_worst_case) {
    make_machine(g_world, processors);
    make_forest(g_world, 2048);
    if (filter_worst_case) make_filter_worst_case(g_world);
    s_cpu = g_world.cpu;
    std::memcpy(s_cores.items, g_world.cores, sizeof(sysmon_core_info) * static_cast<size_t>(g_world.cores_count));
    s_cores.count = g_world.cores_count;
    s_mem = g_world.mem;
    std::memcpy(s_disks.items, g_world.disks, sizeof g_world.disks);
    s_disks.count = g_world.disks_count;
    std::memcpy(s_nets.items, g_world.nets, sizeof g_world.nets);
    s_nets.count = g_world.nets_count;
    std::memcpy(s_procs.items, g_world.procs, sizeof g_world.procs);
    s_procs.count = g_world.procs_count;
    s_gpu = g_world.gpu;
    s_bat = g_world.bat;
    s_sys = g_world.sys;
    history_clear();
    std::mt19937 random(300);
    for (int k = 0; k < SYSMON_HISTORY_LEN; ++k) {
        for (int i = 0; i < processors; ++i) s_cores.items[i].usage = static_cast<double>(random() % 100000) / 997.0;
        s_cpu.total_usage = static_cast<double>(random() % 10000) / 100.0;
        history_record_snapshot();
    }
    s_cpu = g_world.cpu;
    std::memcpy(s_cores.items, g_world.cores, sizeof(sysmon_core_info) * static_cast<size_t>(g_world.cores_count));
    process_filter_set(nullptr);
}

// ---- Core writers: fast against oracle ---------------------------------------

strbuf s_out;

template <typename Writer>
void run_writer(benchmark::State &state, Writer writer) {
    auto call = [&]() {
        strbuf_reset(&s_out);
        writer(&s_out);
        return s_out.len;
    };
    count_per_call(state, call);
    for (auto _ : state) {
        strbuf_reset(&s_out);
        writer(&s_out);
        benchmark::DoNotOptimize(s_out.data);
        benchmark::ClobberMemory();
    }
}

struct setup {
    int32_t processors = 64;
    bool filter_worst_case = false;
    const char *filter = nullptr;
};

template <typename Fast, typename Oracle>
void register_pair(const std::string &name, setup s, Fast fast, Oracle oracle) {
    auto prepare = [s]() {
        load_records(s.processors, s.filter_worst_case);
        const std::string worst = filter_worst_case_text();
        process_filter_set(s.filter_worst_case ? worst.c_str() : s.filter);
    };
    benchmark::RegisterBenchmark((name + "/fast").c_str(), [=](benchmark::State &state) {
        prepare();
        run_writer(state, fast);
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((name + "/oracle").c_str(), [=](benchmark::State &state) {
        prepare();
        run_writer(state, oracle);
    })->Unit(benchmark::kMicrosecond);
}

void register_core() {
    for (int32_t limit : {0, 10}) {
        register_pair("core/tree(" + std::to_string(limit) + ")", {}, [=](strbuf *sb) { serialize_process_tree(sb, limit); },
                      [=](strbuf *sb) { oracle::process_tree(sb, limit); });
    }
    const int32_t lists[][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {50, 0}};
    for (const auto &l : lists) {
        const int32_t limit = l[0];
        const int32_t sort_by = l[1];
        register_pair("core/processes(" + std::to_string(limit) + "," + std::to_string(sort_by) + ")", {},
                      [=](strbuf *sb) { serialize_process_list(sb, limit, sort_by); },
                      [=](strbuf *sb) { oracle::process_list(sb, limit, sort_by); });
    }
    setup chrome;
    chrome.filter = "chrome";
    register_pair("core/processes(0,0)+filter", chrome, [](strbuf *sb) { serialize_process_list(sb, 0, 0); },
                  [](strbuf *sb) { oracle::process_list(sb, 0, 0); });
    setup worst;
    worst.filter_worst_case = true;
    register_pair("core/processes(0,0)+worst-filter", worst, [](strbuf *sb) { serialize_process_list(sb, 0, 0); },
                  [](strbuf *sb) { oracle::process_list(sb, 0, 0); });
    setup worst_unfiltered;
    worst_unfiltered.filter_worst_case = true;
    worst_unfiltered.filter = "";
    benchmark::RegisterBenchmark("core/processes(0,0)+worst-records-unfiltered/fast", [=](benchmark::State &state) {
        load_records(64, true);
        process_filter_set(nullptr);
        run_writer(state, [](strbuf *sb) { serialize_process_list(sb, 0, 0); });
    })->Unit(benchmark::kMicrosecond);
    for (int32_t processors : {64, 512}) {
        setup s;
        s.processors = processors;
        const std::string at = std::string("@").append(std::to_string(processors));
        register_pair("core/snapshot" + at, s, [](strbuf *sb) { serialize_snapshot(sb); },
                      [](strbuf *sb) { oracle::snapshot(sb); });
        register_pair("core/cpu_core_history(300)" + at, s, [](strbuf *sb) { serialize_core_history(sb, 300); },
                      [](strbuf *sb) { oracle::core_history(sb, 300); });
    }
    register_pair("core/history(0,300)", {}, [](strbuf *sb) { serialize_metric_history(sb, 0, 300); },
                  [](strbuf *sb) { oracle::metric_history(sb, 0, 300); });
}

// ---- Readings through the exported functions --------------------------------

template <typename Reading>
void register_reading(const std::string &name, int32_t processors, Reading reading) {
    benchmark::RegisterBenchmark(("reading/" + name + "@" + std::to_string(processors)).c_str(),
                                 [=](benchmark::State &state) {
                                     sysmon_cleanup();
                                     load_records(processors, false);
                                     sysmon_init();
                                     // 300 snapshots recorded by the library itself.
                                     for (int k = 0; k < SYSMON_HISTORY_LEN; ++k) sysmon_snapshot();
                                     auto call = [&]() { return std::strlen(reading()); };
                                     count_per_call(state, call);
                                     for (auto _ : state) benchmark::DoNotOptimize(reading());
                                 })
        ->Unit(benchmark::kMicrosecond);
}

void register_readings() {
    for (int32_t processors : {64, 512}) {
        register_reading("snapshot", processors, [] { return sysmon_snapshot(); });
        register_reading("cpu", processors, [] { return sysmon_cpu(); });
        register_reading("cpu_core_history(300)", processors, [] { return sysmon_cpu_core_history(300); });
    }
    register_reading("memory", 64, [] { return sysmon_memory(); });
    register_reading("disks", 64, [] { return sysmon_disks(); });
    register_reading("network", 64, [] { return sysmon_network(); });
    register_reading("processes(0,0)", 64, [] { return sysmon_processes(0, 0); });
    register_reading("processes(0,3)", 64, [] { return sysmon_processes(0, 3); });
    register_reading("processes(10,1)", 64, [] { return sysmon_processes(10, 1); });
    register_reading("process_tree(0)", 64, [] { return sysmon_process_tree(0); });
    register_reading("gpu", 64, [] { return sysmon_gpu(); });
    register_reading("battery", 64, [] { return sysmon_battery(); });
    register_reading("system", 64, [] { return sysmon_system(); });
    register_reading("history(0,300)", 64, [] { return sysmon_history(0, 300); });
}

// ---- Ratios ------------------------------------------------------------------

// The worst-case filter against the same records unfiltered, and the most
// allocations any reading of the library made per call.
void print_core_summary(const RatioReporter &reporter) {
    const double *worst = reporter.TimeOf("core/processes(0,0)+worst-filter/fast");
    const double *plain = reporter.TimeOf("core/processes(0,0)+worst-records-unfiltered/fast");
    if (worst != nullptr && plain != nullptr)
        std::printf("%-48s %12.1f %12.1f %7.2fx\n", "worst filter / same records unfiltered", *worst, *plain,
                    *worst / *plain);
    std::printf("%-48s %g hook allocs, %g mallocs per call (most of any)\n", "library, steady state:",
                reporter.MostOf("allocs"), reporter.MostOf("mallocs"));
}

}  // namespace

int main(int argc, char **argv) {
    s_hooks.mem_alloc = counting_alloc;
    s_hooks.mem_realloc = counting_realloc;
    strbuf_init(&s_out, 8u << 20);
    register_core();
    register_readings();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    print_core_summary(reporter);
    benchmark::Shutdown();
    sysmon_cleanup();
    strbuf_free(&s_out);
    return 0;
}
