// Growth of cumulative counters, shared by the collectors of every
// platform: a counter that went down (reset or wrap) counts as no growth,
// and a rate is that growth over the time it took.
#ifndef VANTOREL_COMMON_COUNTER_RATES_H
#define VANTOREL_COMMON_COUNTER_RATES_H

#include <cstdint>

// Growth per second of a counter over `elapsed_sec`, truncated: 0 when the
// counter went down or the window is 1 ms or shorter.
uint64_t counter_rate(uint64_t now, uint64_t prev, double elapsed_sec);

// Growth of a counter; 0 when it went down.
uint64_t counter_growth(uint64_t now, uint64_t prev);

// Share of one processor, in percent and at most 100, of processor time
// grown from `prev` to `now` (100-ns units) over `elapsed_sec`: 0 when the
// time went down or the window is 1 ms or shorter.
double process_cpu_percent(uint64_t now, uint64_t prev, double elapsed_sec);

#endif  // VANTOREL_COMMON_COUNTER_RATES_H
