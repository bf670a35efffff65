// Processor load from two readings of the /proc/stat time fields.
#ifndef VANTOREL_LINUX_CPU_DERIVE_H
#define VANTOREL_LINUX_CPU_DERIVE_H

#include "proc_stat_parse.h"

// Busy share in percent of the growth of all time fields from `prev` to
// `now`: idle time is idle + iowait; guest and guest_nice are already inside
// user and nice and are not counted again. A field that went down counts as
// no growth; no growth at all gives 0.
double cpu_busy_percent(const proc_stat_times &prev, const proc_stat_times &now);

#endif  // VANTOREL_LINUX_CPU_DERIVE_H
