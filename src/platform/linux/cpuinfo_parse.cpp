#include "cpuinfo_parse.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "text_scan.h"
#include "text_utf8.h"

namespace {

// Distinct (physical id, core id) pairs, kept sorted in a fixed table.
struct core_set {
    static const int32_t kCapacity = 4096;
    uint64_t keys[kCapacity];
    int32_t count = 0;
    void add(uint64_t key) {
        uint64_t *at = std::lower_bound(keys, keys + count, key);
        if (at != keys + count && *at == key) return;
        if (count >= kCapacity) return;
        std::memmove(at + 1, at, static_cast<size_t>(keys + count - at) * sizeof *at);
        *at = key;
        ++count;
    }
};

core_set s_cores;  // large; parsing runs with the global lock held

// Parses a decimal value with an optional fraction ("2394.454").
bool parse_decimal(text_span v, double *out) {
    const char *p = v.begin;
    uint64_t whole = 0;
    if (!scan_u64(&p, v.end, &whole)) return false;
    double value = static_cast<double>(whole);
    if (p < v.end && *p == '.') {
        double scale = 0.1;
        for (++p; p < v.end && *p >= '0' && *p <= '9'; ++p, scale *= 0.1)
            value += (*p - '0') * scale;
    }
    *out = value;
    return true;
}

}  // namespace

void parse_cpuinfo(const char *text, size_t len, cpuinfo_reading *out) {
    std::memset(out, 0, sizeof *out);
    if (text == nullptr) return;
    s_cores.count = 0;
    const char *p = text;
    const char *end = text + len;
    text_span line, value;
    int32_t processor = -1;  // blocks seen (each starts with "processor")
    bool have_model = false, have_hardware = false, have_processor_line = false;
    bool have_physical = false, have_core = false;
    uint64_t physical_id = 0, core_id = 0;
    double mhz_sum = 0.0;
    char hardware[128] = "", processor_line[128] = "";
    auto flush_core = [&]() {
        if (have_physical && have_core) s_cores.add((physical_id << 32) ^ core_id);
        have_physical = have_core = false;
    };
    while (scan_line(&p, end, &line)) {
        if (span_key_value(line, "processor", ':', &value)) {
            flush_core();
            ++processor;
            continue;
        }
        if (span_key_value(line, "model name", ':', &value)) {
            if (!have_model && processor <= 0 && !value.empty()) {
                utf8_set(out->name, value.begin, value.size());
                have_model = true;
            }
        } else if (span_key_value(line, "Hardware", ':', &value)) {
            if (!have_hardware && !value.empty()) {
                utf8_set(hardware, value.begin, value.size());
                have_hardware = true;
            }
        } else if (span_key_value(line, "Processor", ':', &value)) {
            if (!have_processor_line && !value.empty()) {
                utf8_set(processor_line, value.begin, value.size());
                have_processor_line = true;
            }
        } else if (span_key_value(line, "physical id", ':', &value)) {
            const char *q = value.begin;
            have_physical = scan_u64(&q, value.end, &physical_id);
        } else if (span_key_value(line, "core id", ':', &value)) {
            const char *q = value.begin;
            have_core = scan_u64(&q, value.end, &core_id);
        } else if (span_key_value(line, "cpu MHz", ':', &value)) {
            double mhz = 0.0;
            if (parse_decimal(value, &mhz)) {
                mhz_sum += mhz;
                ++out->mhz_count;
            }
        }
    }
    flush_core();
    if (!have_model) {
        if (have_hardware) std::memcpy(out->name, hardware, sizeof hardware);
        else if (have_processor_line) std::memcpy(out->name, processor_line, sizeof processor_line);
    }
    out->physical_cores = s_cores.count;
    if (out->mhz_count > 0) out->mhz_mean = mhz_sum / out->mhz_count;
}
