#include "text_scan.h"

#include <cstring>

static bool is_blank(char c) { return c == ' ' || c == '\t'; }
static bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

const char *scan_blanks(const char *p, const char *end) {
    while (p < end && is_blank(*p)) ++p;
    return p;
}

const char *scan_space(const char *p, const char *end) {
    while (p < end && is_space(*p)) ++p;
    return p;
}

bool scan_u64(const char **p, const char *end, uint64_t *value) {
    const char *q = scan_blanks(*p, end);
    if (q >= end || *q < '0' || *q > '9') return false;
    uint64_t v = 0;
    bool saturated = false;
    for (; q < end && *q >= '0' && *q <= '9'; ++q) {
        const uint64_t digit = static_cast<uint64_t>(*q - '0');
        if (saturated || v > (UINT64_MAX - digit) / 10) {
            saturated = true;
            continue;
        }
        v = v * 10 + digit;
    }
    *value = saturated ? UINT64_MAX : v;
    *p = q;
    return true;
}

bool scan_i64(const char **p, const char *end, int64_t *value) {
    const char *q = scan_blanks(*p, end);
    bool negative = false;
    if (q < end && *q == '-') {
        negative = true;
        ++q;
    }
    uint64_t magnitude = 0;
    if (!scan_u64(&q, end, &magnitude)) return false;
    if (negative) {
        *value = magnitude >= static_cast<uint64_t>(INT64_MAX) ? INT64_MIN
                                                               : -static_cast<int64_t>(magnitude);
    } else {
        *value = magnitude > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX
                                                              : static_cast<int64_t>(magnitude);
    }
    *p = q;
    return true;
}

bool scan_skip_token(const char **p, const char *end) {
    const char *q = scan_blanks(*p, end);
    if (q >= end || is_space(*q)) return false;
    while (q < end && !is_space(*q)) ++q;
    *p = q;
    return true;
}

bool scan_line(const char **p, const char *end, text_span *line) {
    const char *q = *p;
    if (q >= end) return false;
    const void *nl = std::memchr(q, '\n', static_cast<size_t>(end - q));
    const char *stop = nl != nullptr ? static_cast<const char *>(nl) : end;
    line->begin = q;
    line->end = stop;
    *p = nl != nullptr ? stop + 1 : end;
    return true;
}

bool span_starts_with(const text_span &line, const char *prefix) {
    const size_t n = std::strlen(prefix);
    return line.size() >= n && std::memcmp(line.begin, prefix, n) == 0;
}

text_span span_trim(text_span s) {
    while (s.begin < s.end && is_space(*s.begin)) ++s.begin;
    while (s.end > s.begin && is_space(s.end[-1])) --s.end;
    return s;
}

bool span_key_value(const text_span &line, const char *key, char sep, text_span *value) {
    if (!span_starts_with(line, key)) return false;
    const char *q = line.begin + std::strlen(key);
    q = scan_blanks(q, line.end);
    if (q >= line.end || *q != sep) return false;
    *value = span_trim(text_span{q + 1, line.end});
    return true;
}

uint64_t saturating_mul(uint64_t a, uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
    return a * b;
}

uint64_t saturating_add(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}
