#include "meminfo_parse.h"

#include <cstring>

#include "counter_rates.h"
#include "text_scan.h"

namespace {

// "Key:   1234 kB" -> bytes (a value without the kB unit is taken as bytes).
bool field_bytes(const text_span &line, const char *key, uint64_t *out) {
    text_span value;
    if (!span_key_value(line, key, ':', &value)) return false;
    const char *p = value.begin;
    uint64_t v = 0;
    if (!scan_u64(&p, value.end, &v)) return false;
    p = scan_blanks(p, value.end);
    *out = (p < value.end && (*p == 'k' || *p == 'K')) ? saturating_mul(v, 1024) : v;
    return true;
}

}  // namespace

void parse_meminfo(const char *text, size_t len, sysmon_mem_info *mem) {
    std::memset(mem, 0, sizeof *mem);
    if (text == nullptr) return;
    uint64_t total = 0, available = 0, buffers = 0, cached = 0, reclaimable = 0, swap_total = 0,
             swap_free = 0;
    const char *p = text;
    const char *end = text + len;
    text_span line;
    while (scan_line(&p, end, &line)) {
        field_bytes(line, "MemTotal", &total) || field_bytes(line, "MemAvailable", &available) ||
            field_bytes(line, "Buffers", &buffers) || field_bytes(line, "Cached", &cached) ||
            field_bytes(line, "SReclaimable", &reclaimable) ||
            field_bytes(line, "SwapTotal", &swap_total) ||
            field_bytes(line, "SwapFree", &swap_free);
    }
    mem->total = total;
    mem->available = available;
    mem->used = counter_growth(total, available);
    // What free shows as buff/cache.
    mem->cached = saturating_add(saturating_add(buffers, cached), reclaimable);
    mem->swap_total = swap_total;
    mem->swap_used = counter_growth(swap_total, swap_free);
}
