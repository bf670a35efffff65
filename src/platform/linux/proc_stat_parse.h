// /proc/stat: the aggregate and per-processor time lines and the boot time.
#ifndef VANTOREL_LINUX_PROC_STAT_PARSE_H
#define VANTOREL_LINUX_PROC_STAT_PARSE_H

#include <cstddef>
#include <cstdint>

#include "sysmon_internal.h"

// The time fields of one line of /proc/stat, in clock ticks.
struct proc_stat_times {
    uint64_t user, nice, system, idle, iowait, irq, softirq, steal, guest, guest_nice;
};

struct proc_stat_cpu {
    int32_t index;  // N of the cpuN line
    proc_stat_times times;
};

struct proc_stat_reading {
    int32_t has_total = 0;  // the aggregate "cpu" line was read
    proc_stat_times total{};
    // The cpuN lines in file order (online processors; offline ones leave
    // gaps in N). The list grows to hold them all and keeps its size; when
    // it cannot grow it holds the first lines that fit.
    record_list<proc_stat_cpu> cpus{nullptr, 0, 0, 0};
    int32_t has_btime = 0;
    uint64_t btime = 0;  // boot instant, seconds since 1970 UTC
};

// Parses the text; missing time fields read as 0 (older kernels have fewer
// columns), a line without any time field is ignored.
void parse_proc_stat(const char *text, size_t len, proc_stat_reading *out);

// Gives the reading's list back to the allocator (a reading that lives as
// long as the library keeps it).
void proc_stat_release(proc_stat_reading *reading);

#endif  // VANTOREL_LINUX_PROC_STAT_PARSE_H
