#include "oracle_views.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "history.h"
#include "process_view.h"

namespace oracle {

fault planted = fault::none;

namespace {

// Work arrays as big as the process list can be.
std::vector<sysmon_proc_info> s_list_store;
std::vector<int32_t> s_visited_store;
std::vector<const sysmon_proc_info *> s_pointers_store;
std::vector<const sysmon_proc_info *> s_pointers_tmp_store;
sysmon_proc_info *s_list;
int32_t *s_visited;
const sysmon_proc_info **s_pointers;
const sysmon_proc_info **s_pointers_tmp;

void work_reserve(size_t n) {
    if (n < SYSMON_MAX_PROCS) n = SYSMON_MAX_PROCS;
    if (s_list_store.size() >= n) return;
    s_list_store.resize(n);
    s_visited_store.resize(n);
    s_pointers_store.resize(n);
    s_pointers_tmp_store.resize(n);
    s_list = s_list_store.data();
    s_visited = s_visited_store.data();
    s_pointers = s_pointers_store.data();
    s_pointers_tmp = s_pointers_tmp_store.data();
}

using ull = unsigned long long;

int fold(char c) { return std::tolower(static_cast<unsigned char>(c)); }

const char *find_ignoring_case(const char *text, size_t text_max, const char *pattern) {
    if (pattern[0] == '\0') return text;
    for (size_t p = 0; p < text_max && text[p] != '\0'; ++p) {
        size_t k = 0;
        while (pattern[k] != '\0' && p + k < text_max && text[p + k] != '\0' &&
               fold(text[p + k]) == fold(pattern[k]))
            ++k;
        if (pattern[k] == '\0') return text + p;
    }
    return nullptr;
}

bool filter_match(const sysmon_proc_info *proc) {
    if (s_process_filter[0] == '\0') return true;
    if (find_ignoring_case(proc->name, sizeof proc->name, s_process_filter) != nullptr) return true;
    if (planted == fault::filter_skips_command) return false;
    return find_ignoring_case(proc->command, sizeof proc->command, s_process_filter) != nullptr;
}

int32_t listed_count(int32_t count) {
    work_reserve(static_cast<size_t>(s_procs.capacity));
    if (count < 0) return 0;
    return count > s_procs.capacity ? s_procs.capacity : count;
}

int32_t filtered_copy() {
    const int32_t n = listed_count(s_procs.count);
    int32_t m = 0;
    for (int32_t i = 0; i < n; ++i)
        if (filter_match(&s_procs.items[i])) std::memcpy(&s_list[m++], &s_procs.items[i], sizeof s_procs.items[i]);
    return m;
}

const sysmon_proc_info *as_proc(const void *p) { return static_cast<const sysmon_proc_info *>(p); }

int compare_pids(int32_t a, int32_t b) { return (a > b) - (a < b); }

// ---- Literal writers: printf for numbers, one byte at a time for text ----

double finite(double v) { return std::isfinite(v) ? v : 0.0; }

template <size_t N>
void append_field(strbuf *sb, const char (&field)[N]) {
    for (size_t i = 0; i < N && field[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        switch (c) {
            case '"': strbuf_append(sb, "\\\""); break;
            case '\\': strbuf_append(sb, "\\\\"); break;
            case '\b': strbuf_append(sb, "\\b"); break;
            case '\f': strbuf_append(sb, "\\f"); break;
            case '\n': strbuf_append(sb, "\\n"); break;
            case '\r': strbuf_append(sb, "\\r"); break;
            case '\t': strbuf_append(sb, "\\t"); break;
            default:
                if (c < 0x20)
                    strbuf_printf(sb, "\\u%04x", c);
                else
                    strbuf_append_n(sb, &field[i], 1);
        }
    }
}

int32_t clamp_count(int32_t count, int32_t capacity) {
    if (count < 0) return 0;
    return count > capacity ? capacity : count;
}

void write_proc_fields(strbuf *sb, const sysmon_proc_info *p) {
    strbuf_printf(sb, "\"pid\":%d,\"name\":\"", p->pid);
    append_field(sb, p->name);
    strbuf_printf(sb, "\",\"cpu_percent\":%.2f,\"memory_bytes\":%llu,\"memory_percent\":%.2f,\"status\":\"",
                  finite(p->cpu_percent), static_cast<ull>(p->memory_bytes), finite(p->memory_percent));
    append_field(sb, p->status);
    strbuf_append(sb, "\",\"command\":\"");
    append_field(sb, p->command);
    strbuf_printf(sb, "\",\"ppid\":%d,\"user\":\"", p->ppid);
    append_field(sb, p->user);
    strbuf_printf(sb, "\",\"threads\":%d,\"read_bytes_sec\":%llu,\"write_bytes_sec\":%llu", p->threads,
                  static_cast<ull>(p->read_bytes_sec), static_cast<ull>(p->write_bytes_sec));
}

void write_cpu(strbuf *sb) {
    strbuf_append(sb, "{\"name\":\"");
    append_field(sb, s_cpu.name);
    strbuf_printf(sb, "\",\"cores\":%d,\"threads\":%d,\"total_usage\":%.2f,\"frequency_mhz\":%.1f,\"per_core\":[",
                  s_cpu.cores, s_cpu.threads, finite(s_cpu.total_usage), finite(s_cpu.frequency_mhz));
    const int32_t n = clamp_count(s_cores.count, s_cores.capacity);
    for (int32_t i = 0; i < n; ++i) {
        if (i > 0) strbuf_append(sb, ",");
        strbuf_printf(sb, "%.2f", finite(s_cores.items[i].usage));
    }
    strbuf_printf(sb, "],\"temperature_c\":%.1f,\"busy_seconds\":%.2f,\"idle_seconds\":%.2f",
                  finite(s_cpu.temperature_c), finite(s_cpu.busy_seconds), finite(s_cpu.idle_seconds));
    strbuf_append(sb, ",\"per_core_busy_seconds\":[");
    for (int32_t i = 0; i < n; ++i) strbuf_printf(sb, i > 0 ? ",%.2f" : "%.2f", finite(s_cores.items[i].busy_seconds));
    strbuf_append(sb, "],\"per_core_idle_seconds\":[");
    for (int32_t i = 0; i < n; ++i) strbuf_printf(sb, i > 0 ? ",%.2f" : "%.2f", finite(s_cores.items[i].idle_seconds));
    strbuf_printf(sb, "],\"limit_cpus\":%.2f}", finite(s_cpu.limit_cpus));
}

void write_mem(strbuf *sb) {
    strbuf_printf(sb,
                  "{\"total\":%llu,\"used\":%llu,\"available\":%llu,\"cached\":%llu,"
                  "\"swap_total\":%llu,\"swap_used\":%llu,\"limit\":%llu,\"limit_used\":%llu}",
                  static_cast<ull>(s_mem.total), static_cast<ull>(s_mem.used),
                  static_cast<ull>(s_mem.available), static_cast<ull>(s_mem.cached),
                  static_cast<ull>(s_mem.swap_total), static_cast<ull>(s_mem.swap_used),
                  static_cast<ull>(s_mem.limit), static_cast<ull>(s_mem.limit_used));
}

void write_disks(strbuf *sb) {
    const int32_t n = clamp_count(s_disks.count, s_disks.capacity);
    strbuf_append(sb, "[");
    for (int32_t i = 0; i < n; ++i) {
        const sysmon_disk_info &d = s_disks.items[i];
        if (i > 0) strbuf_append(sb, ",");
        strbuf_append(sb, "{\"name\":\"");
        append_field(sb, d.name);
        strbuf_append(sb, "\",\"mount\":\"");
        append_field(sb, d.mount);
        strbuf_append(sb, "\",\"fs\":\"");
        append_field(sb, d.fs);
        strbuf_printf(sb,
                      "\",\"total\":%llu,\"used\":%llu,\"free\":%llu,"
                      "\"read_bytes_sec\":%llu,\"write_bytes_sec\":%llu,\"total_read\":%llu,"
                      "\"total_written\":%llu,\"available\":%llu}",
                      static_cast<ull>(d.total), static_cast<ull>(d.used), static_cast<ull>(d.free),
                      static_cast<ull>(d.read_bytes_sec), static_cast<ull>(d.write_bytes_sec),
                      static_cast<ull>(d.total_read), static_cast<ull>(d.total_written),
                      static_cast<ull>(d.available));
    }
    strbuf_append(sb, "]");
}

void write_nets(strbuf *sb) {
    const int32_t n = clamp_count(s_nets.count, s_nets.capacity);
    strbuf_append(sb, "[");
    for (int32_t i = 0; i < n; ++i) {
        const sysmon_net_info &e = s_nets.items[i];
        if (i > 0) strbuf_append(sb, ",");
        strbuf_append(sb, "{\"name\":\"");
        append_field(sb, e.name);
        strbuf_append(sb, "\",\"ip\":\"");
        append_field(sb, e.ip);
        strbuf_printf(sb, "\",\"up_bytes_sec\":%llu,\"down_bytes_sec\":%llu,\"total_sent\":%llu,\"total_recv\":%llu}",
                      static_cast<ull>(e.up_bytes_sec), static_cast<ull>(e.down_bytes_sec),
                      static_cast<ull>(e.total_sent), static_cast<ull>(e.total_recv));
    }
    strbuf_append(sb, "]");
}

void write_gpu_members(strbuf *sb, const sysmon_gpu_info &g) {
    strbuf_append(sb, "\"name\":\"");
    append_field(sb, g.name);
    strbuf_printf(sb, "\",\"usage_percent\":%.2f,\"vram_total\":%llu,\"vram_used\":%llu,\"temperature_c\":%.1f,\"driver\":\"",
                  finite(g.usage_percent), static_cast<ull>(g.vram_total),
                  static_cast<ull>(g.vram_used), finite(g.temperature_c));
    append_field(sb, g.driver);
    strbuf_printf(sb, "\",\"power_watts\":%.1f,\"source\":\"", finite(g.power_watts));
    append_field(sb, g.source);
    strbuf_append(sb, "\"");
}

void write_gpu(strbuf *sb) {
    strbuf_append(sb, "{");
    write_gpu_members(sb, s_gpu);
    strbuf_append(sb, ",\"adapters\":[");
    for (int32_t i = 0; i < s_gpus_count && i < SYSMON_MAX_GPUS; ++i) {
        strbuf_append(sb, i > 0 ? ",{" : "{");
        write_gpu_members(sb, s_gpus[i]);
        strbuf_append(sb, ",\"bus_id\":\"");
        append_field(sb, s_gpus[i].bus_id);
        strbuf_append(sb, "\"}");
    }
    strbuf_append(sb, "]}");
}

void write_sys(strbuf *sb) {
    strbuf_append(sb, "{\"hostname\":\"");
    append_field(sb, s_sys.hostname);
    strbuf_append(sb, "\",\"os\":\"");
    append_field(sb, s_sys.os);
    strbuf_append(sb, "\",\"kernel\":\"");
    append_field(sb, s_sys.kernel);
    strbuf_printf(sb, "\",\"uptime_seconds\":%llu,\"boot_time\":\"", static_cast<ull>(s_sys.uptime_seconds));
    append_field(sb, s_sys.boot_time);
    strbuf_append(sb, "\",\"cpu_arch\":\"");
    append_field(sb, s_sys.cpu_arch);
    strbuf_append(sb, "\"}");
}

void write_bat(strbuf *sb) {
    strbuf_printf(sb, "{\"present\":%s,\"percent\":%d,\"status\":\"", s_bat.present != 0 ? "true" : "false",
                  s_bat.percent);
    append_field(sb, s_bat.status);
    strbuf_printf(sb, "\",\"time_remaining_min\":%d,\"power_draw_watts\":%.2f,\"health_percent\":%d}",
                  s_bat.time_remaining_min, finite(s_bat.power_draw_watts), s_bat.health_percent);
}

// ---- The tree ------------------------------------------------------------

bool parent_is_listed(int32_t ppid, int32_t m) {
    for (int32_t k = 0; k < m; ++k)
        if (s_list[k].pid == ppid) return true;
    return false;
}

void write_node(strbuf *sb, int32_t index, int32_t m, int32_t depth) {
    if (index < 0 || index >= m) return;
    s_visited[index] = 1;
    const sysmon_proc_info *proc = &s_list[index];
    strbuf_append(sb, "{");
    write_proc_fields(sb, proc);
    strbuf_append(sb, ",\"children\":[");
    const int32_t max_depth = planted == fault::depth_limit_63 ? 63 : SYSMON_TREE_MAX_DEPTH;
    if (depth < max_depth) {
        bool first = true;
        for (int32_t k = 0; k < m; ++k) {
            const sysmon_proc_info *child = &s_list[k];
            if (child->ppid != proc->pid || child->pid == proc->pid || s_visited[k] != 0) continue;
            if (!first) strbuf_append(sb, ",");
            first = false;
            write_node(sb, k, m, depth + 1);
        }
    }
    strbuf_append(sb, "]}");
}

// ---- Sorting -------------------------------------------------------------

void merge_sort(const sysmon_proc_info **items, size_t n, int (*compare)(const void *, const void *)) {
    if (n <= 1) return;
    const size_t n1 = n / 2;
    const size_t n2 = n - n1;
    merge_sort(items, n1, compare);
    merge_sort(items + n1, n2, compare);
    size_t a = 0;
    size_t b = n1;
    size_t out = 0;
    while (a < n1 && b < n) {
        if (compare(items[a], items[b]) <= 0)
            s_pointers_tmp[out++] = items[a++];
        else
            s_pointers_tmp[out++] = items[b++];
    }
    while (a < n1) s_pointers_tmp[out++] = items[a++];
    while (b < n) s_pointers_tmp[out++] = items[b++];
    std::memcpy(items, s_pointers_tmp, n * sizeof items[0]);
}

}  // namespace

const char *strcasestr(const char *text, const char *pattern) {
    if (text == nullptr || pattern == nullptr) return nullptr;
    return find_ignoring_case(text, SIZE_MAX, pattern);
}

int cmp_cpu(const void *a, const void *b) {
    const sysmon_proc_info *pa = as_proc(a);
    const sysmon_proc_info *pb = as_proc(b);
    if (pb->cpu_percent > pa->cpu_percent) return 1;
    if (pa->cpu_percent > pb->cpu_percent) return -1;
    return compare_pids(pa->pid, pb->pid);
}

int cmp_mem(const void *a, const void *b) {
    const sysmon_proc_info *pa = as_proc(a);
    const sysmon_proc_info *pb = as_proc(b);
    if (pb->memory_bytes > pa->memory_bytes) return 1;
    if (pa->memory_bytes > pb->memory_bytes) return -1;
    return compare_pids(pa->pid, pb->pid);
}

int cmp_pid(const void *a, const void *b) { return compare_pids(as_proc(a)->pid, as_proc(b)->pid); }

int cmp_name(const void *a, const void *b) {
    const char *na = as_proc(a)->name;
    const char *nb = as_proc(b)->name;
    for (size_t i = 0; i < sizeof as_proc(a)->name; ++i) {
        const int ca = fold(na[i]);
        const int cb = fold(nb[i]);
        if (ca != cb) return ca - cb;
        if (ca == 0) return 0;
    }
    return 0;
}

namespace {
int cmp_name_reversed_ties(const void *a, const void *b) {
    const int r = cmp_name(a, b);
    return r != 0 ? r : 1;
}
}  // namespace

void sort_records(sysmon_proc_info *records, size_t count, int (*compare)(const void *, const void *)) {
    work_reserve(count);
    for (size_t i = 0; i < count; ++i) s_pointers[i] = &records[i];
    merge_sort(s_pointers, count, compare);
    // Move the records into the sorted order one cycle of the permutation at
    // a time, as glibc does, with one record aside.
    static sysmon_proc_info aside;
    static std::vector<int32_t> target;  // target[i]: where the record now at i must end up
    if (target.size() < count) target.resize(count);
    for (size_t i = 0; i < count; ++i) target[s_pointers[i] - records] = static_cast<int32_t>(i);
    for (size_t i = 0; i < count; ++i) {
        while (target[i] != static_cast<int32_t>(i)) {
            const int32_t t = target[i];
            std::memcpy(&aside, &records[t], sizeof aside);
            std::memcpy(&records[t], &records[i], sizeof aside);
            std::memcpy(&records[i], &aside, sizeof aside);
            target[i] = target[t];
            target[t] = t;
        }
    }
}

void process_list(strbuf *sb, int32_t limit, int32_t sort_by) {
    const int32_t m = filtered_copy();
    int (*compare)(const void *, const void *) = cmp_cpu;
    switch (sort_by) {
        case 1: compare = cmp_mem; break;
        case 2: compare = cmp_pid; break;
        case 3: compare = planted == fault::name_ties_reversed ? cmp_name_reversed_ties : cmp_name; break;
        default: break;
    }
    sort_records(s_list, static_cast<size_t>(m), compare);
    const int32_t n = (limit < 1 || limit >= m) ? m : limit;
    strbuf_append(sb, "[");
    for (int32_t k = 0; k < n; ++k) {
        strbuf_append(sb, k > 0 ? ",{" : "{");
        write_proc_fields(sb, &s_list[k]);
        strbuf_append(sb, "}");
    }
    strbuf_append(sb, "]");
}

void process_tree(strbuf *sb, int32_t limit) {
    const int32_t m = filtered_copy();
    sort_records(s_list, static_cast<size_t>(m), cmp_cpu);
    std::memset(s_visited, 0, sizeof s_visited[0] * static_cast<size_t>(m));
    strbuf_append(sb, "[");
    const int32_t roots_max = limit >= 1 ? limit : m;
    int32_t roots = 0;
    const int32_t candidates = roots_max < m ? roots_max : m;
    for (int32_t j = 0; j < candidates; ++j) {
        if (s_visited[j] != 0) continue;
        const sysmon_proc_info *proc = &s_list[j];
        bool root = proc->ppid <= 0 || proc->ppid == proc->pid || !parent_is_listed(proc->ppid, m);
        if (planted == fault::orphan_not_root) root = proc->ppid <= 0 || proc->ppid == proc->pid;
        if (!root) continue;
        if (roots > 0) strbuf_append(sb, ",");
        write_node(sb, j, m, 0);
        ++roots;
    }
    for (int32_t k = 0; k < m && roots < roots_max; ++k) {
        if (s_visited[k] != 0) continue;
        if (roots > 0) strbuf_append(sb, ",");
        write_node(sb, k, m, 0);
        ++roots;
    }
    strbuf_append(sb, "]");
}

void snapshot(strbuf *sb) {
    strbuf_append(sb, "{\"cpu\":");
    write_cpu(sb);
    strbuf_append(sb, ",\"memory\":");
    write_mem(sb);
    strbuf_append(sb, ",\"disks\":");
    write_disks(sb);
    strbuf_append(sb, ",\"network\":");
    write_nets(sb);
    const int32_t n = listed_count(s_procs.count);
    std::memcpy(s_list, s_procs.items, static_cast<size_t>(n) * sizeof s_procs.items[0]);
    sort_records(s_list, static_cast<size_t>(n), cmp_cpu);
    const int32_t listed = n < SYSMON_SNAPSHOT_TOP_PROCS ? n : SYSMON_SNAPSHOT_TOP_PROCS;
    strbuf_append(sb, ",\"processes\":[");
    for (int32_t k = 0; k < listed; ++k) {
        if (k > 0) strbuf_append(sb, ",");
        strbuf_append(sb, "{");
        write_proc_fields(sb, &s_list[k]);
        strbuf_append(sb, "}");
    }
    strbuf_append(sb, "]");
    strbuf_append(sb, ",\"gpu\":");
    write_gpu(sb);
    strbuf_append(sb, ",\"battery\":");
    write_bat(sb);
    strbuf_append(sb, ",\"system\":");
    write_sys(sb);
    strbuf_append(sb, "}");
}

namespace {

int32_t get_samples(const history_ring *ring, int32_t n, double *dest) {
    if (n <= 0 || ring->count <= 0) return 0;
    if (n > ring->count) n = ring->count;
    const int32_t first = ring->count <= SYSMON_HISTORY_LEN - 1
                              ? ring->count - n
                              : (ring->head + SYSMON_HISTORY_LEN - n) % SYSMON_HISTORY_LEN;
    for (int32_t k = 0; k < n; ++k) dest[k] = ring->samples[(first + k) % SYSMON_HISTORY_LEN];
    return n;
}

void append_samples(strbuf *sb, const history_ring *ring, int32_t n) {
    double samples[SYSMON_HISTORY_LEN];
    const int32_t m = get_samples(ring, n, samples);
    strbuf_append(sb, "[");
    for (int32_t k = 0; k < m; ++k) {
        if (k > 0) strbuf_append(sb, ",");
        double v = finite(samples[k]);
        if (planted == fault::round_half_up) v = std::nextafter(v, v < 0 ? -1e300 : 1e300);
        strbuf_printf(sb, "%.2f", v);
    }
    strbuf_append(sb, "]");
}

}  // namespace

void metric_history(strbuf *sb, int32_t metric, int32_t n) {
    if (static_cast<uint32_t>(metric) > SYSMON_HISTORY_METRICS - 1 || n <= 0) {
        strbuf_append(sb, "[]");
        return;
    }
    append_samples(sb, &s_history[metric], n);
}

void core_history(strbuf *sb, int32_t n) {
    int32_t rings = clamp_count(s_core_history.count, s_core_history.capacity);
    if (rings <= 0) rings = 1;
    strbuf_append(sb, "[");
    for (int32_t i = 0; i < rings; ++i) {
        if (i > 0) strbuf_append(sb, ",");
        append_samples(sb, &s_core_history.items[i], n);
    }
    strbuf_append(sb, "]");
}

}  // namespace oracle
