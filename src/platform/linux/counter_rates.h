// Derivations from counter growth shared by the Linux collectors.
#ifndef VANTOREL_LINUX_COUNTER_RATES_H
#define VANTOREL_LINUX_COUNTER_RATES_H

#include <cstdint>

// Growth per second of a counter over `elapsed_sec`: 0 when the counter went
// down or the window is 1 ms or shorter.
uint64_t counter_rate(uint64_t now, uint64_t prev, double elapsed_sec);

// Growth of a counter; 0 when it went down.
uint64_t counter_growth(uint64_t now, uint64_t prev);

// The time fields of one line of /proc/stat, in clock ticks.
struct cpu_times {
    uint64_t user, nice, system, idle, iowait, irq, softirq, steal, guest, guest_nice;
};

// Busy share in percent of the growth of all time fields from `prev` to
// `now`: idle time is idle + iowait; guest and guest_nice are already inside
// user and nice and are not counted again. A field that went down counts as
// no growth; no growth at all gives 0.
double cpu_busy_percent(const cpu_times &prev, const cpu_times &now);

// Share of one processor in percent of processor time grown from `prev` to
// `now` (100-ns units) over `elapsed_sec`: 200 for a process that kept two
// processors busy, never cut at 100.
double process_cpu_percent(uint64_t now, uint64_t prev, double elapsed_sec);

#endif  // VANTOREL_LINUX_COUNTER_RATES_H
