#include "cgroup_limits.h"

#include <cstdio>
#include <cstring>

#include "cgroup_parse.h"
#include "file_read.h"
#include "mountinfo_parse.h"
#include "text_scan.h"

namespace {

#define MAX_CGROUP_MOUNTS 32
#define MAX_CGROUP_DIRS 4

// A mounted cgroup hierarchy.
struct cgroup_mount {
    int32_t v2;
    char mount_point[sizeof mount_entry::mount_point];
    char root[sizeof mount_entry::root];
    char controllers[sizeof mount_entry::super_options];  // v1: the controllers
};

// The directory of the process's cgroup in one hierarchy; its ancestors up
// to the hierarchy's mount point are the first `top_len` bytes and up.
struct cgroup_dir {
    int32_t v2;
    char path[LINUX_PATH_SIZE + 2 * sizeof mount_entry::mount_point];
    size_t top_len;
};

char s_cgroup_text[16 * 1024];
char s_mountinfo[512 * 1024];
char s_value[4096];
char s_value2[256];
cgroup_mount s_mounts[MAX_CGROUP_MOUNTS];

// Copies text of a field of the same size.
template <size_t N>
void copy_text(char (&out)[N], const char (&text)[N]) {
    std::memcpy(out, text, N);
    out[N - 1] = '\0';
}

int32_t read_cgroup_mounts(const linux_sources &src) {
    char path[LINUX_PATH_SIZE];
    int64_t n = join_path(path, sizeof path, src.proc_root, "self/mountinfo")
                    ? read_file(path, s_mountinfo, sizeof s_mountinfo) : -1;
    int32_t count = 0;
    const char *p = s_mountinfo;
    const char *end = s_mountinfo + (n > 0 ? n : 0);
    text_span line;
    static mount_entry mount;
    while (count < MAX_CGROUP_MOUNTS && scan_line(&p, end, &line)) {
        if (!parse_mountinfo_line(line.begin, line.size(), &mount)) continue;
        const bool v2 = std::strcmp(mount.fs_type, "cgroup2") == 0;
        if (!v2 && std::strcmp(mount.fs_type, "cgroup") != 0) continue;
        cgroup_mount &m = s_mounts[count++];
        m.v2 = v2;
        copy_text(m.mount_point, mount.mount_point);
        copy_text(m.root, mount.root);
        copy_text(m.controllers, mount.super_options);
    }
    return count;
}

// The part of cgroup `path` below the mount's root: "" when it is the root
// or lies outside what is mounted there.
const char *below_root(const char *path, const char *root) {
    if (std::strcmp(root, "/") == 0) return std::strcmp(path, "/") == 0 ? "" : path;
    const size_t n = std::strlen(root);
    if (std::strncmp(path, root, n) == 0 && (path[n] == '/' || path[n] == '\0')) return path + n;
    return "";
}

// The directories of the process's cgroups in the v2 hierarchy and in the v1
// hierarchy holding `controller`.
int32_t find_cgroup_dirs(const linux_sources &src, const char *controller, cgroup_dir *out) {
    char path[LINUX_PATH_SIZE];
    const int64_t n = join_path(path, sizeof path, src.proc_root, "self/cgroup")
                          ? read_file(path, s_cgroup_text, sizeof s_cgroup_text) : -1;
    if (n <= 0) return 0;
    const int32_t mounts = read_cgroup_mounts(src);
    int32_t found = 0;
    const char *p = s_cgroup_text;
    const char *end = s_cgroup_text + n;
    text_span line;
    static cgroup_line membership;
    while (found < MAX_CGROUP_DIRS && scan_line(&p, end, &line)) {
        if (!parse_cgroup_line(line.begin, line.size(), &membership)) continue;
        if (!membership.v2 && !comma_list_has(membership.controllers, controller)) continue;
        for (int32_t i = 0; i < mounts; ++i) {
            const cgroup_mount &m = s_mounts[i];
            if (m.v2 != membership.v2) continue;
            if (!m.v2 && !comma_list_has(m.controllers, controller)) continue;
            cgroup_dir &d = out[found];
            const int top = std::snprintf(d.path, sizeof d.path, "%s%s", src.mount_root, m.mount_point);
            const int all = std::snprintf(d.path, sizeof d.path, "%s%s%s", src.mount_root, m.mount_point,
                                          below_root(membership.path, m.root));
            if (top < 0 || all < 0 || static_cast<size_t>(all) >= sizeof d.path) break;
            d.v2 = m.v2;
            d.top_len = static_cast<size_t>(top);
            ++found;
            break;
        }
    }
    return found;
}

// Reads `file` of directory `dir` into `out`; its length, or -1.
int64_t read_value(const char *dir, const char *file, char *out, size_t size) {
    char path[sizeof cgroup_dir::path + 64];
    if (std::snprintf(path, sizeof path, "%s/%s", dir, file) >= static_cast<int>(sizeof path)) return -1;
    return read_file(path, out, size);
}

size_t length_of(int64_t n) { return n > 0 ? static_cast<size_t>(n) : 0; }

// Calls visit(directory) for the cgroup's directory and each ancestor up to
// the hierarchy's mount point.
template <typename Visit>
void walk_up(cgroup_dir &d, Visit visit) {
    size_t len = std::strlen(d.path);
    for (;;) {
        visit(d.path);
        if (len <= d.top_len) break;
        while (len > d.top_len && d.path[len - 1] != '/') --len;
        if (len > d.top_len) --len;  // the separator
        d.path[len] = '\0';
    }
}

}  // namespace

uint64_t cgroup_memory_limit(const linux_sources &src, uint64_t *used) {
    *used = 0;
    cgroup_dir dirs[MAX_CGROUP_DIRS];
    const int32_t n = find_cgroup_dirs(src, "memory", dirs);
    uint64_t lowest = 0;
    for (int32_t i = 0; i < n; ++i) {
        cgroup_dir &d = dirs[i];
        const char *limit_file = d.v2 ? "memory.max" : "memory.limit_in_bytes";
        // The usage of the process's own cgroup, read before walking up.
        uint64_t usage = 0;
        const int64_t u = read_value(d.path, d.v2 ? "memory.current" : "memory.usage_in_bytes", s_value,
                                     sizeof s_value);
        const bool has_usage = parse_memory_limit(s_value, length_of(u), &usage) && u > 0;
        walk_up(d, [&](const char *dir) {
            uint64_t limit = 0;
            const int64_t m = read_value(dir, limit_file, s_value, sizeof s_value);
            if (m <= 0 || !parse_memory_limit(s_value, length_of(m), &limit) || limit == 0) return;
            if (lowest != 0 && limit >= lowest) return;
            lowest = limit;
            *used = has_usage ? usage : 0;
        });
    }
    return lowest;
}

double cgroup_cpu_limit(const linux_sources &src, int32_t machine_processors) {
    double lowest = 0.0;
    auto consider = [&lowest](double cpus) {
        if (cpus > 0.0 && (lowest == 0.0 || cpus < lowest)) lowest = cpus;
    };
    cgroup_dir dirs[MAX_CGROUP_DIRS];
    int32_t n = find_cgroup_dirs(src, "cpu", dirs);
    for (int32_t i = 0; i < n; ++i) {
        const bool v2 = dirs[i].v2 != 0;
        walk_up(dirs[i], [&](const char *dir) {
            double cpus = 0.0;
            if (v2) {
                const int64_t m = read_value(dir, "cpu.max", s_value, sizeof s_value);
                if (m > 0 && parse_cpu_max(s_value, length_of(m), &cpus)) consider(cpus);
                return;
            }
            const int64_t q = read_value(dir, "cpu.cfs_quota_us", s_value, sizeof s_value);
            const int64_t p = read_value(dir, "cpu.cfs_period_us", s_value2, sizeof s_value2);
            if (q > 0 && p > 0 &&
                cpu_quota_processors(s_value, length_of(q), s_value2, length_of(p), &cpus))
                consider(cpus);
        });
    }
    n = find_cgroup_dirs(src, "cpuset", dirs);
    for (int32_t i = 0; i < n; ++i) {
        const bool v2 = dirs[i].v2 != 0;
        walk_up(dirs[i], [&](const char *dir) {
            int64_t m = read_value(dir, v2 ? "cpuset.cpus.effective" : "cpuset.effective_cpus", s_value,
                                   sizeof s_value);
            if (m <= 0 && !v2) m = read_value(dir, "cpuset.cpus", s_value, sizeof s_value);
            const int32_t count = m > 0 ? parse_cpu_list_count(s_value, length_of(m)) : -1;
            if (count > 0 && count < machine_processors) consider(static_cast<double>(count));
        });
    }
    return lowest;
}
