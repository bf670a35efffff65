// Fuzz target: /proc/stat from arbitrary bytes (a buffer of exactly the
// input's size, without a NUL). The reading stays within its list, the
// processor indices are non-negative, and the busy share derived from two
// readings is a finite percentage.
#include <cmath>
#include <cstdint>
#include <string>
#include <algorithm>

#include "cpu_derive.h"
#include "fuzz_checks.h"
#include "proc_stat_parse.h"

namespace {

proc_stat_reading s_readings[2];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The second reading is the text without its first line: counters that
    // move both ways between two readings.
    const exact_bytes text(data, size);
    size_t second = 0;
    while (second < size && data[second] != '\n') ++second;
    const exact_bytes rest(data + second, size - second);
    parse_proc_stat(text.data(), text.size(), &s_readings[0]);
    parse_proc_stat(rest.data(), rest.size(), &s_readings[1]);
    for (const proc_stat_reading &r : s_readings) {
        FUZZ_CHECK(r.cpus.count >= 0 && r.cpus.count <= r.cpus.capacity, std::to_string(r.cpus.count));
        for (int32_t i = 0; i < r.cpus.count; ++i) FUZZ_CHECK(r.cpus.items[i].index >= 0, "negative processor index");
    }
    const double busy = cpu_busy_percent(s_readings[1].total, s_readings[0].total);
    FUZZ_CHECK(std::isfinite(busy) && busy >= 0 && busy <= 100, std::to_string(busy));
    const int32_t n = std::min(s_readings[0].cpus.count, s_readings[1].cpus.count);
    for (int32_t i = 0; i < n; ++i) {
        const double core = cpu_busy_percent(s_readings[0].cpus.items[i].times, s_readings[1].cpus.items[i].times);
        FUZZ_CHECK(std::isfinite(core) && core >= 0 && core <= 100, std::to_string(core));
    }
    return 0;
}
