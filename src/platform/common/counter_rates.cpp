#include "counter_rates.h"

uint64_t counter_growth(uint64_t now, uint64_t prev) { return now >= prev ? now - prev : 0; }

uint64_t counter_rate(uint64_t now, uint64_t prev, double elapsed_sec) {
    if (now < prev || !(elapsed_sec > 0.001)) return 0;
    const double rate = static_cast<double>(now - prev) / elapsed_sec;
    // 2^64 as a double: anything at or beyond it cannot be converted.
    if (rate >= 18446744073709551616.0) return UINT64_MAX;
    return static_cast<uint64_t>(rate);
}

double process_cpu_percent(uint64_t now, uint64_t prev, double elapsed_sec) {
    if (now < prev || !(elapsed_sec > 0.001)) return 0.0;
    const double share = static_cast<double>(now - prev) * 1e-7 / elapsed_sec * 100.0;
    return share > 100.0 ? 100.0 : share;
}
