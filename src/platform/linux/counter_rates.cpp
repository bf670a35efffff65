#include "counter_rates.h"

uint64_t counter_growth(uint64_t now, uint64_t prev) { return now >= prev ? now - prev : 0; }

uint64_t counter_rate(uint64_t now, uint64_t prev, double elapsed_sec) {
    if (now < prev || !(elapsed_sec > 0.001)) return 0;
    const double rate = static_cast<double>(now - prev) / elapsed_sec;
    // 2^64 as a double: anything at or beyond it cannot be converted.
    if (rate >= 18446744073709551616.0) return UINT64_MAX;
    return static_cast<uint64_t>(rate);
}

double cpu_busy_percent(const cpu_times &prev, const cpu_times &now) {
    const uint64_t idle = counter_growth(now.idle, prev.idle) + counter_growth(now.iowait, prev.iowait);
    const uint64_t busy = counter_growth(now.user, prev.user) + counter_growth(now.nice, prev.nice) +
                          counter_growth(now.system, prev.system) +
                          counter_growth(now.irq, prev.irq) +
                          counter_growth(now.softirq, prev.softirq) +
                          counter_growth(now.steal, prev.steal);
    const double total = static_cast<double>(idle) + static_cast<double>(busy);
    if (!(total > 0.0)) return 0.0;
    const double share = static_cast<double>(busy) * 100.0 / total;
    return share > 100.0 ? 100.0 : share;
}

cpu_seconds cpu_times_seconds(const cpu_times &t, double ticks_per_second) {
    if (!(ticks_per_second > 0.0)) return cpu_seconds{0.0, 0.0};
    const double busy = static_cast<double>(t.user) + static_cast<double>(t.nice) +
                        static_cast<double>(t.system) + static_cast<double>(t.irq) +
                        static_cast<double>(t.softirq) + static_cast<double>(t.steal);
    const double idle = static_cast<double>(t.idle) + static_cast<double>(t.iowait);
    return cpu_seconds{busy / ticks_per_second, idle / ticks_per_second};
}

double monotonic_counter(double now, double *highest) {
    if (now > *highest) *highest = now;
    return *highest;
}

double process_cpu_percent(uint64_t now, uint64_t prev, double elapsed_sec) {
    if (now < prev || !(elapsed_sec > 0.001)) return 0.0;
    const double share = static_cast<double>(now - prev) * 1e-7 / elapsed_sec * 100.0;
    return share > 100.0 ? 100.0 : share;
}
