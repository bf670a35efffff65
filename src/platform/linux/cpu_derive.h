// Processor load from two readings of the /proc/stat time fields.
#ifndef VANTOREL_LINUX_CPU_DERIVE_H
#define VANTOREL_LINUX_CPU_DERIVE_H

#include "proc_stat_parse.h"

// Busy share in percent of the growth of all time fields from `prev` to
// `now`: idle time is idle + iowait; guest and guest_nice are already inside
// user and nice and are not counted again. A field that went down counts as
// no growth; no growth at all gives 0.
double cpu_busy_percent(const proc_stat_times &prev, const proc_stat_times &now);

// Processor time of one /proc/stat line in seconds, split as
// cpu_busy_percent splits it: idle is idle + iowait, busy the other fields
// without guest and guest_nice. 0 and 0 when `ticks_per_second` is not positive.
struct cpu_seconds {
    double busy, idle;
};
cpu_seconds cpu_times_seconds(const proc_stat_times &t, double ticks_per_second);

// A counter published as never going down (the kernel's iowait may step
// back): the larger of `now` and `*highest`, which it then becomes.
double monotonic_counter(double now, double *highest);

#endif  // VANTOREL_LINUX_CPU_DERIVE_H
