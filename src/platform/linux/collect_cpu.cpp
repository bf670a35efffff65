// Processor collector: name and core counts from /proc/cpuinfo, loads from
// the time lines of /proc/stat, frequency from cpufreq (else cpuinfo), and
// the package temperature.
#include <algorithm>
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
struct cpu_counters {
    int32_t has_total;
    proc_stat_times total;
    int32_t core_count;
    core_counters cores[SYSMON_MAX_CORES];
};

baseline_pair<cpu_counters> s_baselines;
proc_stat_reading s_stat;
char s_text[256 * 1024];

// Name and physical cores change only with the sources.
// The highest processor times published, so that they never go down: the
// total and each processor by its N of cpuN.
double s_busy_highest = 0.0, s_idle_highest = 0.0;
double s_core_busy_highest[SYSMON_MAX_CORES], s_core_idle_highest[SYSMON_MAX_CORES];

uint32_t s_identity_generation = 0;
char s_name[128];
int32_t s_physical_cores = 0;

const proc_stat_times *find_core(const cpu_counters &c, int32_t index) {
    const core_counters *end = c.cores + c.core_count;
    const core_counters *at = std::lower_bound(
        c.cores, end, index, [](const core_counters &e, int32_t i) { return e.index < i; });
    return at != end && at->index == index ? &at->times : nullptr;
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
    for (int32_t i = 0; i < stat.cpu_count; ++i) {
        char path[LINUX_PATH_SIZE + 96];  // the root, the fixed part and an int
        std::snprintf(path, sizeof path, "%s/devices/system/cpu/cpu%d/cpufreq/scaling_cur_freq",
                      sys_root, static_cast<int>(stat.cpus[i].index));
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

int32_t sysmon_collect_cpu(sysmon_cpu_info *cpu, const sysmon_window *window) {
    if (cpu == nullptr) return -1;
    std::memset(cpu, 0, sizeof *cpu);
    const linux_sources &src = linux_sources_current();
    char path[LINUX_PATH_SIZE];

    int64_t n = join_path(path, sizeof path, src.proc_root, "stat") ? read_file(path, s_text, sizeof s_text) : -1;
    parse_proc_stat(s_text, n > 0 ? static_cast<size_t>(n) : 0, &s_stat);

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
    cpu->threads = s_stat.cpu_count;
    cpu->cores = s_physical_cores > 0 ? s_physical_cores : cpu->threads;
    cpu->frequency_mhz = mhz;
    cpu->temperature_c = read_cpu_temperature(src.sys_root);
    cpu->limit_cpus = cgroup_cpu_limit(src, s_stat.cpu_count);

    // Loads against the planned baseline; the new counters become the
    // newest baseline only when the window advances.
    const cpu_counters &base = s_baselines.against(window);
    if (s_stat.has_total && base.has_total) cpu->total_usage = cpu_busy_percent(base.total, s_stat.total);
    cpu->per_core_count = s_stat.cpu_count;
    for (int32_t i = 0; i < s_stat.cpu_count; ++i) {
        const proc_stat_times *prev = find_core(base, s_stat.cpus[i].index);
        cpu->per_core[i] = prev != nullptr ? cpu_busy_percent(*prev, s_stat.cpus[i].times) : 0.0;
    }

    // Cumulative times: clock ticks into seconds, never going down.
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    if (s_stat.has_total) {
        const cpu_seconds total = cpu_times_seconds(s_stat.total, ticks);
        cpu->busy_seconds = monotonic_counter(total.busy, &s_busy_highest);
        cpu->idle_seconds = monotonic_counter(total.idle, &s_idle_highest);
    }
    for (int32_t i = 0; i < s_stat.cpu_count; ++i) {
        const cpu_seconds core = cpu_times_seconds(s_stat.cpus[i].times, ticks);
        const int32_t at = s_stat.cpus[i].index;
        const bool kept = at >= 0 && at < SYSMON_MAX_CORES;
        cpu->per_core_busy_seconds[i] = kept ? monotonic_counter(core.busy, &s_core_busy_highest[at]) : core.busy;
        cpu->per_core_idle_seconds[i] = kept ? monotonic_counter(core.idle, &s_core_idle_highest[at]) : core.idle;
    }

    if (window == nullptr || window->advance != 0) {
        cpu_counters &next = s_baselines.next();
        next.has_total = s_stat.has_total;
        next.total = s_stat.total;
        next.core_count = s_stat.cpu_count;
        for (int32_t i = 0; i < s_stat.cpu_count; ++i)
            next.cores[i] = core_counters{s_stat.cpus[i].index, s_stat.cpus[i].times};
        std::sort(next.cores, next.cores + next.core_count,
                  [](const core_counters &a, const core_counters &b) { return a.index < b.index; });
        s_baselines.commit(window);
    }
    return 0;
}
