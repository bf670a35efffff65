// Processor collector: name and core counts from /proc/cpuinfo, loads from
// the time lines of /proc/stat, frequency from cpufreq (else cpuinfo), and
// the package temperature.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "cgroup_limits.h"
#include "cpu_derive.h"
#include "cpu_temperature.h"
#include "cpuinfo_parse.h"
#include "file_read.h"
#include "linux_sources.h"
#include "proc_stat_parse.h"
#include "sysmon_internal.h"
#include "text_utf8.h"

namespace {

struct core_counters {
    int32_t index;  // N of cpuN
    proc_stat_times times;
};

// The counters of one reading: the aggregate line and every cpuN line,
// ascending by N (as /proc/stat lists them; sorted when a file does not).
// The list grows with the processors; a baseline that cannot grow keeps
// those that fit, and the others read 0 once, as new processors do.
struct cpu_counters {
    int32_t has_total;
    proc_stat_times total;
    record_list<core_counters> cores;
};

baseline_pair<cpu_counters> s_baselines;
proc_stat_reading s_stat;

// /proc/stat, read whole into a buffer that doubles while the file fills it
// (some 60 bytes a processor, so a few thousand pass the first size) and
// keeps its size.
char s_text_initial[256 * 1024];
record_list<char> s_text{s_text_initial, 0, sizeof s_text_initial, 0};

// The highest processor times published, so that they never go down: the
// total, and each processor by its N of cpuN, ascending by N. A processor
// the table cannot grow to hold publishes its times as read.
struct core_highest {
    int32_t index;
    double busy, idle;
};
double s_busy_highest = 0.0, s_idle_highest = 0.0;
record_list<core_highest> s_core_highest{nullptr, 0, 0, 0};

// Name and physical cores change only with the sources.
uint32_t s_identity_generation = 0;
char s_name[128];
int32_t s_physical_cores = 0;

const proc_stat_times *find_core(const cpu_counters &c, int32_t index) {
    const core_counters *end = c.cores.items + c.cores.count;
    const core_counters *at = std::lower_bound(
        static_cast<const core_counters *>(c.cores.items), end, index,
        [](const core_counters &e, int32_t i) { return e.index < i; });
    return at != end && at->index == index ? &at->times : nullptr;
}

// The entry of processor N in the table of highest times, added (zero) when
// missing; null when the table cannot grow.
core_highest *highest_of(int32_t index) {
    core_highest *end = s_core_highest.items + s_core_highest.count;
    core_highest *at = std::lower_bound(s_core_highest.items, end, index,
                                        [](const core_highest &e, int32_t i) { return e.index < i; });
    if (at != end && at->index == index) return at;
    const ptrdiff_t offset = at - s_core_highest.items;
    if (!record_list_reserve(&s_core_highest, s_core_highest.count + 1)) return nullptr;
    at = s_core_highest.items + offset;
    end = s_core_highest.items + s_core_highest.count;
    std::memmove(at + 1, at, sizeof *at * static_cast<size_t>(end - at));
    *at = core_highest{index, 0.0, 0.0};
    ++s_core_highest.count;
    return at;
}

// Reads /proc/stat whole, as far as the buffer can grow; a cut text ends at
// its last whole line. The length read, or -1.
int64_t read_proc_stat(const char *path) {
    for (;;) {
        int64_t n = read_file(path, s_text.items, static_cast<size_t>(s_text.capacity));
        if (n < static_cast<int64_t>(s_text.capacity) - 1) return n;
        if (record_list_reserve(&s_text, s_text.capacity < INT32_MAX / 2 ? s_text.capacity * 2 : INT32_MAX))
            continue;
        while (n > 0 && s_text.items[n - 1] != '\n') --n;
        return n;
    }
}

void read_identity(const linux_sources &src, const cpuinfo_reading &info) {
    s_identity_generation = linux_sources_generation();
    s_physical_cores = info.physical_cores;
    if (info.name[0] != '\0') {
        std::memcpy(s_name, info.name, sizeof s_name);
        return;
    }
    linux_system_names names{};
    if (src.system_names(&names) == 0) utf8_set(s_name, names.machine);
    else s_name[0] = '\0';
}

// Mean scaling_cur_freq of the listed processors in MHz; 0 when none reads.
double cpufreq_mean_mhz(const char *sys_root, const proc_stat_reading &stat) {
    double sum = 0.0;
    int32_t count = 0;
    for (int32_t i = 0; i < stat.cpus.count; ++i) {
        char path[LINUX_PATH_SIZE + 96];  // the root, the fixed part and an int
        std::snprintf(path, sizeof path, "%s/devices/system/cpu/cpu%d/cpufreq/scaling_cur_freq",
                      sys_root, static_cast<int>(stat.cpus.items[i].index));
        uint64_t khz = 0;
        if (!read_u64_file(path, &khz)) {
            if (i == 0) return 0.0;  // no cpufreq on this machine
            continue;
        }
        sum += static_cast<double>(khz) / 1000.0;
        ++count;
    }
    return count > 0 ? sum / count : 0.0;
}

}  // namespace

int32_t sysmon_collect_cpu(sysmon_cpu_info *cpu, record_list<sysmon_core_info> *cores,
                           const sysmon_window *window) {
    if (cpu == nullptr || cores == nullptr) return -1;
    std::memset(cpu, 0, sizeof *cpu);
    if (cores->items != nullptr && cores->capacity > 0)
        std::memset(cores->items, 0, sizeof *cores->items * static_cast<size_t>(cores->capacity));
    cores->count = 0;
    const linux_sources &src = linux_sources_current();
    char path[LINUX_PATH_SIZE];

    const int64_t n = join_path(path, sizeof path, src.proc_root, "stat") ? read_proc_stat(path) : -1;
    parse_proc_stat(s_text.items, n > 0 ? static_cast<size_t>(n) : 0, &s_stat);
    // Every processor read, or as many as the list can grow to hold.
    record_list_reserve(cores, s_stat.cpus.count);
    const int32_t listed = s_stat.cpus.count < cores->capacity ? s_stat.cpus.count : cores->capacity;

    // cpuinfo is read once for the identity, and again each time only when
    // the frequency has to come from it.
    double mhz = cpufreq_mean_mhz(src.sys_root, s_stat);
    const bool need_identity = s_identity_generation != linux_sources_generation();
    if (need_identity || mhz <= 0.0) {
        static char info_text[256 * 1024];
        static cpuinfo_reading info;
        const int64_t m = join_path(path, sizeof path, src.proc_root, "cpuinfo")
                              ? read_file(path, info_text, sizeof info_text) : -1;
        parse_cpuinfo(info_text, m > 0 ? static_cast<size_t>(m) : 0, &info);
        if (need_identity) read_identity(src, info);
        if (mhz <= 0.0) mhz = info.mhz_mean;
    }
    std::memcpy(cpu->name, s_name, sizeof cpu->name);
    cpu->threads = s_stat.cpus.count;
    cpu->cores = s_physical_cores > 0 ? s_physical_cores : cpu->threads;
    cpu->frequency_mhz = mhz;
    cpu->temperature_c = read_cpu_temperature(src.sys_root);
    cpu->limit_cpus = cgroup_cpu_limit(src, s_stat.cpus.count);

    // Loads against the planned baseline; the new counters become the
    // newest baseline only when the window advances.
    const cpu_counters &base = s_baselines.against(window);
    if (s_stat.has_total && base.has_total) cpu->total_usage = cpu_busy_percent(base.total, s_stat.total);
    cores->count = listed;
    for (int32_t i = 0; i < listed; ++i) {
        const proc_stat_times *prev = find_core(base, s_stat.cpus.items[i].index);
        cores->items[i].usage = prev != nullptr ? cpu_busy_percent(*prev, s_stat.cpus.items[i].times) : 0.0;
    }

    // Cumulative times: clock ticks into seconds, never going down.
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    if (s_stat.has_total) {
        const cpu_seconds total = cpu_times_seconds(s_stat.total, ticks);
        cpu->busy_seconds = monotonic_counter(total.busy, &s_busy_highest);
        cpu->idle_seconds = monotonic_counter(total.idle, &s_idle_highest);
    }
    for (int32_t i = 0; i < listed; ++i) {
        const cpu_seconds times = cpu_times_seconds(s_stat.cpus.items[i].times, ticks);
        core_highest *highest = highest_of(s_stat.cpus.items[i].index);
        sysmon_core_info &core = cores->items[i];
        core.busy_seconds = highest != nullptr ? monotonic_counter(times.busy, &highest->busy) : times.busy;
        core.idle_seconds = highest != nullptr ? monotonic_counter(times.idle, &highest->idle) : times.idle;
    }

    if (window == nullptr || window->advance != 0) {
        cpu_counters &next = s_baselines.next();
        next.has_total = s_stat.has_total;
        next.total = s_stat.total;
        record_list_reserve(&next.cores, s_stat.cpus.count);
        next.cores.count = s_stat.cpus.count < next.cores.capacity ? s_stat.cpus.count : next.cores.capacity;
        for (int32_t i = 0; i < next.cores.count; ++i)
            next.cores.items[i] = core_counters{s_stat.cpus.items[i].index, s_stat.cpus.items[i].times};
        std::sort(next.cores.items, next.cores.items + next.cores.count,
                  [](const core_counters &a, const core_counters &b) { return a.index < b.index; });
        s_baselines.commit(window);
    }
    return 0;
}
