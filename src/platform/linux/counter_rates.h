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

// Processor time of one /proc/stat line in seconds, split as
// cpu_busy_percent splits it: idle is idle + iowait, busy the other fields
// without guest and guest_nice. 0 and 0 when `ticks_per_second` is not positive.
struct cpu_seconds {
    double busy, idle;
};
cpu_seconds cpu_times_seconds(const cpu_times &t, double ticks_per_second);

// A counter published as never going down (the kernel's iowait may step
// back): the larger of `now` and `*highest`, which it then becomes.
double monotonic_counter(double now, double *highest);

// Share of one processor, in percent and at most 100, of processor time
// grown from `prev` to `now` (100-ns units) over `elapsed_sec`.
double process_cpu_percent(uint64_t now, uint64_t prev, double elapsed_sec);

#endif  // VANTOREL_LINUX_COUNTER_RATES_H
