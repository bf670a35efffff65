// Fakes the unit tests link the core with: the eight collectors, the
// platform's initialisation and clean-up, process
// termination, the monotonic clock and the allocator. Each test decides what
// the collectors report and inspects how they were called.
#ifndef VANTOREL_TESTS_FAKE_PLATFORM_H
#define VANTOREL_TESTS_FAKE_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "sysmon_internal.h"

enum class fake_domain { cpu, mem, disks, network, processes, gpu, battery, system };

struct fake_collector_call {
    fake_domain domain;
    double elapsed;         // -1 for collectors that take none
    int32_t capacity;       // the list's (cpu: the processors'); -1 for single-record collectors
    uint64_t memory_total;  // processes only
    int32_t baseline;       // the window's baseline; -1 without a window
    int32_t advance;        // whether the window advances; -1 without one
};

struct fake_platform_state {
    // What the next collections report.
    sysmon_cpu_info cpu{};
    std::vector<sysmon_core_info> cores;  // one per logical processor
    sysmon_mem_info mem{};
    std::vector<sysmon_disk_info> disks;
    std::vector<sysmon_net_info> nets;
    std::vector<sysmon_proc_info> procs;
    std::vector<sysmon_gpu_info> gpus;  // primary first
    sysmon_battery_info bat{};
    sysmon_system_info sys{};

    // Platform initialisations and clean-ups.
    int platform_inits = 0;
    int platform_shutdowns = 0;

    // Every collector call, in order.
    std::vector<fake_collector_call> calls;
    // Runs inside every collector call (with the global lock held).
    std::function<void(fake_domain)> on_collect;
    // Runs after every collector has filled its output (lock still held).
    std::function<void(fake_domain)> after_collect;

    // Process termination.
    sysmon_terminate_result terminate_result = SYSMON_TERMINATE_OK;
    unsigned long terminate_error = 0;
    std::vector<int32_t> terminated;
};

extern fake_platform_state g_fake;

// Forgets every report and call.
void fake_platform_reset();
// Number of recorded calls of one collector.
size_t fake_calls_of(fake_domain domain);

// A process record with the fields the views look at.
sysmon_proc_info fake_process(int32_t pid, int32_t ppid, const char *name, double cpu_percent,
                              uint64_t memory_bytes = 0);

// ---- Clock -----------------------------------------------------------------
// Replaces the monotonic clock with one that only moves when told.
void fake_clock_install(int64_t sec = 100, int32_t nsec = 0);
void fake_clock_advance_ns(int64_t ns);
int fake_clock_reads();
// Nanoseconds the core waited on the fake clock (each wait advances it).
int64_t fake_clock_slept_ns();

// ---- Allocator ---------------------------------------------------------------
struct fake_alloc_state {
    int allocs = 0;
    int reallocs = 0;
    int frees = 0;
    // Allocation calls (malloc) whose requested size is in this list fail.
    std::vector<size_t> fail_alloc_sizes;
    // When >= 0, the allocation call with this index (0-based) fails.
    int fail_alloc_index = -1;
    bool fail_reallocs = false;
};
extern fake_alloc_state g_fake_alloc;
// Routes the core's allocations through the counting, failing allocator.
void fake_alloc_install();

// Restores the real clock and allocator.
void fake_hooks_restore();

#endif  // VANTOREL_TESTS_FAKE_PLATFORM_H
