#include "proc_stat_parse.h"

#include <cstring>

#include "text_scan.h"

namespace {

// Reads up to ten time fields; false when there is not even one.
bool parse_times(const char *p, const char *end, proc_stat_times *t) {
    uint64_t v[10] = {};
    int n = 0;
    while (n < 10 && scan_u64(&p, end, &v[n])) ++n;
    if (n == 0) return false;
    *t = proc_stat_times{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]};
    return true;
}

}  // namespace

void parse_proc_stat(const char *text, size_t len, proc_stat_reading *out) {
    out->has_total = 0;
    out->total = proc_stat_times{};
    out->cpus.count = 0;
    out->has_btime = 0;
    out->btime = 0;
    if (text == nullptr) return;
    const char *p = text;
    const char *end = text + len;
    text_span line;
    bool full = false;  // a growth failed: later processors are left out, not skipped over
    while (scan_line(&p, end, &line)) {
        if (span_starts_with(line, "cpu ")) {
            if (!out->has_total && parse_times(line.begin + 4, line.end, &out->total))
                out->has_total = 1;
        } else if (span_starts_with(line, "cpu")) {
            const char *q = line.begin + 3;
            uint64_t index = 0;
            if (q >= line.end || *q < '0' || *q > '9') continue;
            if (!scan_u64(&q, line.end, &index) || index > INT32_MAX) continue;
            if (full || !record_list_reserve(&out->cpus, out->cpus.count + 1)) {
                full = true;
                continue;
            }
            proc_stat_cpu &cpu = out->cpus.items[out->cpus.count];
            if (!parse_times(q, line.end, &cpu.times)) continue;
            cpu.index = static_cast<int32_t>(index);
            ++out->cpus.count;
        } else if (span_starts_with(line, "btime ")) {
            const char *q = line.begin + 6;
            if (scan_u64(&q, line.end, &out->btime)) out->has_btime = 1;
        }
    }
}

void proc_stat_release(proc_stat_reading *reading) {
    record_list_release(&reading->cpus, static_cast<proc_stat_cpu *>(nullptr), 0);
}
