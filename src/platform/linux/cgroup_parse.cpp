#include "cgroup_parse.h"

#include <cstring>

#include "text_scan.h"

namespace {

// The text without the white space around it.
text_span trimmed(const char *text, size_t len) {
    const char *begin = text;
    const char *end = text + len;
    while (begin < end && (*begin == ' ' || *begin == '\t' || *begin == '\n' || *begin == '\r')) ++begin;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\n' || end[-1] == '\r')) --end;
    return text_span{begin, end};
}

// A whole span as one unsigned decimal number.
bool span_u64(text_span s, uint64_t *value) {
    const char *p = s.begin;
    return s.begin < s.end && *p != '-' && scan_u64(&p, s.end, value) && p == s.end;
}

void copy_span(char *out, size_t size, const char *begin, const char *end) {
    size_t n = static_cast<size_t>(end - begin);
    if (n > size - 1) n = size - 1;
    std::memcpy(out, begin, n);
    out[n] = '\0';
}

}  // namespace

bool parse_cgroup_line(const char *line, size_t len, cgroup_line *out) {
    std::memset(out, 0, sizeof *out);
    const text_span all = trimmed(line, len);
    const char *first = static_cast<const char *>(std::memchr(all.begin, ':', all.size()));
    if (first == nullptr) return false;
    const char *second =
        static_cast<const char *>(std::memchr(first + 1, ':', static_cast<size_t>(all.end - first - 1)));
    if (second == nullptr || second + 1 >= all.end || second[1] != '/') return false;
    uint64_t id = 0;
    if (!span_u64(text_span{all.begin, first}, &id)) return false;
    out->v2 = id == 0 && first + 1 == second;
    copy_span(out->controllers, sizeof out->controllers, first + 1, second);
    copy_span(out->path, sizeof out->path, second + 1, all.end);
    return true;
}

bool comma_list_has(const char *list, const char *name) {
    const size_t n = std::strlen(name);
    if (n == 0) return false;
    for (const char *p = list; *p != '\0';) {
        const char *comma = std::strchr(p, ',');
        const size_t item = comma != nullptr ? static_cast<size_t>(comma - p) : std::strlen(p);
        if (item == n && std::memcmp(p, name, n) == 0) return true;
        if (comma == nullptr) break;
        p = comma + 1;
    }
    return false;
}

bool parse_memory_limit(const char *text, size_t len, uint64_t *bytes) {
    uint64_t value = 0;
    if (text == nullptr || !span_u64(trimmed(text, len), &value)) return false;
    // cgroup v1 writes "no limit" as the largest page-aligned signed value.
    if (value >= (uint64_t{1} << 62)) return false;
    *bytes = value;
    return true;
}

bool parse_cpu_max(const char *text, size_t len, double *cpus) {
    if (text == nullptr) return false;
    const text_span all = trimmed(text, len);
    const char *space = static_cast<const char *>(std::memchr(all.begin, ' ', all.size()));
    if (space == nullptr) return false;
    uint64_t quota = 0, period = 0;
    if (!span_u64(text_span{all.begin, space}, &quota) || !span_u64(text_span{space + 1, all.end}, &period) ||
        quota == 0 || period == 0)
        return false;
    *cpus = static_cast<double>(quota) / static_cast<double>(period);
    return true;
}

bool cpu_quota_processors(const char *quota_text, size_t quota_len, const char *period_text,
                          size_t period_len, double *cpus) {
    if (quota_text == nullptr || period_text == nullptr) return false;
    uint64_t quota = 0, period = 0;
    if (!span_u64(trimmed(quota_text, quota_len), &quota) ||  // "-1": no quota
        !span_u64(trimmed(period_text, period_len), &period) || quota == 0 || period == 0)
        return false;
    *cpus = static_cast<double>(quota) / static_cast<double>(period);
    return true;
}

int32_t parse_cpu_list_count(const char *text, size_t len) {
    if (text == nullptr) return -1;
    const text_span all = trimmed(text, len);
    if (all.empty()) return -1;
    int64_t count = 0;
    const char *p = all.begin;
    while (p < all.end) {
        uint64_t first = 0, last = 0;
        if (*p < '0' || *p > '9' || !scan_u64(&p, all.end, &first)) return -1;
        last = first;
        if (p < all.end && *p == '-') {
            ++p;
            if (p >= all.end || *p < '0' || *p > '9' || !scan_u64(&p, all.end, &last) || last < first) return -1;
        }
        count += static_cast<int64_t>(last - first) + 1;
        if (count > INT32_MAX) return -1;
        if (p < all.end) {
            if (*p != ',') return -1;
            ++p;
        }
    }
    return static_cast<int32_t>(count);
}
