#include "cpu_derive.h"

#include "counter_rates.h"

double cpu_busy_percent(const proc_stat_times &prev, const proc_stat_times &now) {
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

cpu_seconds cpu_times_seconds(const proc_stat_times &t, double ticks_per_second) {
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
