#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "runtime_hooks.h"

fake_platform_state g_fake;
fake_alloc_state g_fake_alloc;

void fake_platform_reset() { g_fake = fake_platform_state{}; }

size_t fake_calls_of(fake_domain domain) {
    return static_cast<size_t>(std::count_if(g_fake.calls.begin(), g_fake.calls.end(),
                                             [&](const fake_collector_call &c) { return c.domain == domain; }));
}

sysmon_proc_info fake_process(int32_t pid, int32_t ppid, const char *name, double cpu_percent,
                              uint64_t memory_bytes) {
    sysmon_proc_info p{};
    p.pid = pid;
    p.ppid = ppid;
    std::strncpy(p.name, name, sizeof p.name - 1);
    std::strncpy(p.command, name, sizeof p.command - 1);
    std::strncpy(p.user, "SYSTEM", sizeof p.user - 1);
    std::strncpy(p.status, "running", sizeof p.status - 1);
    p.cpu_percent = cpu_percent;
    p.memory_bytes = memory_bytes;
    p.threads = 1;
    return p;
}

namespace {

void record(fake_domain domain, const sysmon_window *window, int32_t capacity,
            uint64_t memory_total) {
    fake_collector_call call{domain, -1, capacity, memory_total, -1, -1};
    if (window != nullptr) {
        call.elapsed = window->elapsed_sec;
        call.baseline = window->baseline;
        call.advance = window->advance;
    }
    g_fake.calls.push_back(call);
    if (g_fake.on_collect) g_fake.on_collect(domain);
}

// As the real collectors do: the list grows to what the source holds, or
// lists what fits when it cannot.
template <typename T>
int32_t fill_list(record_list<T> *out, const std::vector<T> &source) {
    if (out == nullptr) return -1;
    std::memset(out->items, 0, sizeof(T) * static_cast<size_t>(out->capacity));
    record_list_reserve(out, static_cast<int32_t>(source.size()));
    const size_t n = std::min(source.size(), static_cast<size_t>(out->capacity));
    std::copy_n(source.begin(), n, out->items);
    out->count = static_cast<int32_t>(n);
    return 0;
}

// A fixed-capacity list (the GPU adapters): the first `capacity` entries.
template <typename T>
int32_t fill_array(T *out, int32_t *count, int32_t capacity, const std::vector<T> &source) {
    if (out == nullptr || count == nullptr) return -1;
    if (capacity < 0) capacity = 0;
    std::memset(out, 0, sizeof(T) * static_cast<size_t>(capacity));
    const size_t n = std::min(source.size(), static_cast<size_t>(capacity));
    std::copy_n(source.begin(), n, out);
    *count = static_cast<int32_t>(n);
    return 0;
}

// The collector's result, after the test's after_collect hook has run.
int32_t finish(fake_domain domain, int32_t result) {
    if (g_fake.after_collect) g_fake.after_collect(domain);
    return result;
}

template <typename T>
int32_t fill_record(T *out, const T &source) {
    if (out == nullptr) return -1;
    *out = source;
    return 0;
}

// Clock
sysmon_instant s_fake_now;
int s_fake_reads = 0;

void fake_now(sysmon_instant *now) {
    ++s_fake_reads;
    *now = s_fake_now;
}

int64_t s_fake_slept_ns = 0;

void fake_sleep(int64_t ns) {
    s_fake_slept_ns += ns;
    fake_clock_advance_ns(ns);
}

// Allocator
bool alloc_should_fail(size_t size) {
    const int index = g_fake_alloc.allocs++;
    if (index == g_fake_alloc.fail_alloc_index) return true;
    return std::find(g_fake_alloc.fail_alloc_sizes.begin(), g_fake_alloc.fail_alloc_sizes.end(), size) !=
           g_fake_alloc.fail_alloc_sizes.end();
}

void *fake_malloc(size_t size) { return alloc_should_fail(size) ? nullptr : std::malloc(size); }

void *fake_realloc(void *block, size_t size) {
    ++g_fake_alloc.reallocs;
    return g_fake_alloc.fail_reallocs ? nullptr : std::realloc(block, size);
}

void fake_free(void *block) {
    ++g_fake_alloc.frees;
    std::free(block);
}

}  // namespace

// ---- The collector contract ------------------------------------------------

int32_t sysmon_collect_cpu(sysmon_cpu_info *cpu, record_list<sysmon_core_info> *cores,
                           const sysmon_window *window) {
    record(fake_domain::cpu, window, cores != nullptr ? cores->capacity : -1, 0);
    if (fill_record(cpu, g_fake.cpu) != 0) return finish(fake_domain::cpu, -1);
    return finish(fake_domain::cpu, fill_list(cores, g_fake.cores));
}

int32_t sysmon_collect_mem(sysmon_mem_info *mem) {
    record(fake_domain::mem, nullptr, -1, 0);
    return finish(fake_domain::mem, fill_record(mem, g_fake.mem));
}

int32_t sysmon_collect_disks(record_list<sysmon_disk_info> *disks, const sysmon_window *window) {
    record(fake_domain::disks, window, disks != nullptr ? disks->capacity : -1, 0);
    return finish(fake_domain::disks, fill_list(disks, g_fake.disks));
}

int32_t sysmon_collect_network(record_list<sysmon_net_info> *nets, const sysmon_window *window) {
    record(fake_domain::network, window, nets != nullptr ? nets->capacity : -1, 0);
    return finish(fake_domain::network, fill_list(nets, g_fake.nets));
}

int32_t sysmon_collect_processes(record_list<sysmon_proc_info> *procs, const sysmon_window *window,
                                 uint64_t memory_total) {
    record(fake_domain::processes, window, procs != nullptr ? procs->capacity : -1, memory_total);
    return finish(fake_domain::processes, fill_list(procs, g_fake.procs));
}

int32_t sysmon_collect_gpu(sysmon_gpu_info *gpus, int32_t *count, int32_t capacity,
                           const sysmon_window *window) {
    record(fake_domain::gpu, window, capacity, 0);
    return finish(fake_domain::gpu, fill_array(gpus, count, capacity, g_fake.gpus));
}

void sysmon_platform_init() { ++g_fake.platform_inits; }

void sysmon_platform_shutdown() { ++g_fake.platform_shutdowns; }

int32_t sysmon_collect_battery(sysmon_battery_info *bat) {
    record(fake_domain::battery, nullptr, -1, 0);
    return finish(fake_domain::battery, fill_record(bat, g_fake.bat));
}

int32_t sysmon_collect_system(sysmon_system_info *sys) {
    record(fake_domain::system, nullptr, -1, 0);
    return finish(fake_domain::system, fill_record(sys, g_fake.sys));
}

sysmon_terminate_result sysmon_platform_terminate(int32_t pid, unsigned long *error_code) {
    // Termination takes no library lock, so threads may call it at once.
    static std::mutex terminate_mutex;
    std::lock_guard<std::mutex> lock(terminate_mutex);
    g_fake.terminated.push_back(pid);
    *error_code = g_fake.terminate_error;
    return g_fake.terminate_result;
}

void sysmon_platform_error_text(unsigned long error_code, char *out, size_t size) {
    std::snprintf(out, size, "fake error %lu", error_code);
}

int32_t sysmon_platform_code() { return 1; }

// ---- Clock and allocator -------------------------------------------------------

void fake_clock_install(int64_t sec, int32_t nsec) {
    s_fake_now = sysmon_instant{sec, nsec};
    s_fake_reads = 0;
    s_fake_slept_ns = 0;
    s_hooks.monotonic_now = fake_now;
    s_hooks.sleep_ns = fake_sleep;
}

int64_t fake_clock_slept_ns() { return s_fake_slept_ns; }

void fake_clock_advance_ns(int64_t ns) {
    int64_t total = s_fake_now.nsec + ns;
    s_fake_now.sec += total / 1000000000;
    s_fake_now.nsec = static_cast<int32_t>(total % 1000000000);
    if (s_fake_now.nsec < 0) {
        s_fake_now.nsec += 1000000000;
        s_fake_now.sec -= 1;
    }
}

int fake_clock_reads() { return s_fake_reads; }

void fake_alloc_install() {
    g_fake_alloc = fake_alloc_state{};
    s_hooks.mem_alloc = fake_malloc;
    s_hooks.mem_realloc = fake_realloc;
    s_hooks.mem_free = fake_free;
}

void fake_hooks_restore() { s_hooks = sysmon_default_hooks; }
