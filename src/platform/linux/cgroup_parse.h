// The texts of the cgroup file systems: /proc/self/cgroup lines and the
// limit files of cgroup v1 and v2.
#ifndef VANTOREL_LINUX_CGROUP_PARSE_H
#define VANTOREL_LINUX_CGROUP_PARSE_H

#include <cstddef>
#include <cstdint>

// One line of /proc/PID/cgroup: "hierarchy:controllers:path". Controllers
// are empty on the v2 line ("0::/path").
struct cgroup_line {
    int32_t v2;              // the unified hierarchy's line
    char controllers[256];   // comma-separated, as written
    char path[1024];         // the cgroup, from its hierarchy's root
};

// Parses one line; false when it does not have that shape.
bool parse_cgroup_line(const char *line, size_t len, cgroup_line *out);

// Whether the comma-separated `list` holds `name` as one of its items.
bool comma_list_has(const char *list, const char *name);

// A memory limit file (v2 memory.max, v1 memory.limit_in_bytes): true with
// the bytes when it sets a limit; false for "max", for v1's "unlimited"
// value (at or near 2^63) and for text that is not a number.
bool parse_memory_limit(const char *text, size_t len, uint64_t *bytes);

// v2 cpu.max ("quota period" in microseconds, or "max period"): true with
// quota / period in processors when it sets a quota.
bool parse_cpu_max(const char *text, size_t len, double *cpus);

// v1 cpu.cfs_quota_us and cpu.cfs_period_us: true with quota / period when
// the quota is set (not -1) and both are positive.
bool cpu_quota_processors(const char *quota_text, size_t quota_len, const char *period_text,
                          size_t period_len, double *cpus);

// The number of processors in a cpu list ("0-3,8,10-11"); -1 when the text
// is not a cpu list.
int32_t parse_cpu_list_count(const char *text, size_t len);

#endif  // VANTOREL_LINUX_CGROUP_PARSE_H
