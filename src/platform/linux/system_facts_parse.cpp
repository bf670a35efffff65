#include "system_facts_parse.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "text_scan.h"
#include "text_utf8.h"

bool parse_os_release_pretty_name(const char *text, size_t len, char *out, size_t size) {
    if (size == 0) return false;
    out[0] = '\0';
    if (text == nullptr) return false;
    const char *p = text;
    const char *end = text + len;
    text_span line, value;
    while (scan_line(&p, end, &line)) {
        if (!span_key_value(line, "PRETTY_NAME", '=', &value)) continue;
        char quote = 0;
        if (!value.empty() && (*value.begin == '"' || *value.begin == '\'')) {
            quote = *value.begin++;
        }
        char decoded[512];
        size_t n = 0;
        for (const char *c = value.begin; c < value.end && n < sizeof decoded - 1; ++c) {
            if (quote != 0 && *c == quote) break;
            if (quote == '"' && *c == '\\' && c + 1 < value.end) ++c;
            decoded[n++] = *c;
        }
        utf8_copy_repaired(out, size, decoded, n);
        return out[0] != '\0';
    }
    return false;
}

const char *linux_arch_name(const char *machine) {
    if (machine == nullptr) return "unknown";
    if (std::strcmp(machine, "x86_64") == 0) return "x86_64";
    if (std::strcmp(machine, "aarch64") == 0 || std::strcmp(machine, "arm64") == 0)
        return "aarch64";
    if (std::strlen(machine) == 4 && machine[0] == 'i' && machine[1] >= '3' &&
        machine[1] <= '6' && machine[2] == '8' && machine[3] == '6')
        return "x86";
    return "unknown";
}

bool parse_uptime_seconds(const char *text, size_t len, uint64_t *seconds) {
    if (text == nullptr) return false;
    const char *p = text;
    return scan_u64(&p, text + len, seconds);
}

void format_utc_instant(int64_t seconds, char *out, size_t size) {
    if (size == 0) return;
    const time_t t = static_cast<time_t>(seconds);
    struct tm utc;
    // tm_year counts from 1900: years 1000 to 9999 have four digits.
    if (gmtime_r(&t, &utc) == nullptr || utc.tm_year < 1000 - 1900 || utc.tm_year > 9999 - 1900 ||
        std::strftime(out, size, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
        std::snprintf(out, size, "%s", "1970-01-01T00:00:00Z");
}
