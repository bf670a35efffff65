#include "process_view.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "documents.h"

sysmon_proc_info s_procs_scratch[SYSMON_MAX_PROCS];
int32_t s_procs_visited[SYSMON_MAX_PROCS];
char s_process_filter[SYSMON_FILTER_LEN];

namespace {

int fold(char c) { return std::tolower(static_cast<unsigned char>(c)); }

// vt_strcasestr over at most `text_max` bytes of `text`, for record fields
// whose NUL might be missing.
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

template <size_t N>
bool field_contains(const char (&field)[N], const char *pattern) {
    return find_ignoring_case(field, N, pattern) != nullptr;
}

const sysmon_proc_info *as_proc(const void *p) { return static_cast<const sysmon_proc_info *>(p); }

// -1, 0 or 1 without the overflow a subtraction of identifiers could cause.
int compare_pids(int32_t a, int32_t b) { return (a > b) - (a < b); }

int32_t listed_count(int32_t count) {
    if (count < 0) return 0;
    return count > SYSMON_MAX_PROCS ? SYSMON_MAX_PROCS : count;
}

bool parent_is_listed(int32_t ppid, int32_t m) {
    for (int32_t k = 0; k < m; ++k)
        if (s_procs_scratch[k].pid == ppid) return true;
    return false;
}

}  // namespace

const char *vt_strcasestr(const char *text, const char *pattern) {
    if (text == nullptr || pattern == nullptr) return nullptr;
    return find_ignoring_case(text, SIZE_MAX, pattern);
}

void process_filter_set(const char *filter) {
    std::memset(s_process_filter, 0, sizeof s_process_filter);
    if (filter == nullptr) return;
    // strnlen would do, but it is not in every C runtime's standard headers.
    size_t n = 0;
    while (n < sizeof s_process_filter - 1 && filter[n] != '\0') ++n;
    std::memcpy(s_process_filter, filter, n);
}

bool process_filter_match(const sysmon_proc_info *proc) {
    if (s_process_filter[0] == '\0') return true;
    return field_contains(proc->name, s_process_filter) ||
           field_contains(proc->command, s_process_filter);
}

int32_t procs_filtered_copy() {
    const int32_t n = listed_count(s_procs_count);
    int32_t m = 0;
    for (int32_t i = 0; i < n; ++i)
        if (process_filter_match(&s_procs[i])) std::memcpy(&s_procs_scratch[m++], &s_procs[i], sizeof s_procs[i]);
    return m;
}

int32_t procs_copy_all() {
    const int32_t n = listed_count(s_procs_count);
    std::memcpy(s_procs_scratch, s_procs, static_cast<size_t>(n) * sizeof s_procs[0]);
    return n;
}

int cmp_proc_cpu(const void *a, const void *b) {
    const sysmon_proc_info *pa = as_proc(a);
    const sysmon_proc_info *pb = as_proc(b);
    if (pb->cpu_percent > pa->cpu_percent) return 1;
    if (pa->cpu_percent > pb->cpu_percent) return -1;
    return compare_pids(pa->pid, pb->pid);
}

int cmp_proc_mem(const void *a, const void *b) {
    const sysmon_proc_info *pa = as_proc(a);
    const sysmon_proc_info *pb = as_proc(b);
    if (pb->memory_bytes > pa->memory_bytes) return 1;
    if (pa->memory_bytes > pb->memory_bytes) return -1;
    return compare_pids(pa->pid, pb->pid);
}

int cmp_proc_pid(const void *a, const void *b) { return compare_pids(as_proc(a)->pid, as_proc(b)->pid); }

int cmp_proc_name(const void *a, const void *b) {
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

int (*process_comparator(int32_t sort_by))(const void *, const void *) {
    switch (sort_by) {
        case 1: return cmp_proc_mem;
        case 2: return cmp_proc_pid;
        case 3: return cmp_proc_name;
        default: return cmp_proc_cpu;
    }
}

void serialize_process_list(strbuf *sb, int32_t limit, int32_t sort_by) {
    const int32_t m = procs_filtered_copy();
    std::qsort(s_procs_scratch, static_cast<size_t>(m), sizeof s_procs_scratch[0],
               process_comparator(sort_by));
    const int32_t n = (limit < 1 || limit >= m) ? m : limit;
    strbuf_append(sb, "[");
    for (int32_t k = 0; k < n; ++k) {
        strbuf_append(sb, k > 0 ? ",{" : "{");
        serialize_proc_fields(sb, &s_procs_scratch[k]);
        strbuf_append(sb, "}");
    }
    strbuf_append(sb, "]");
}

void serialize_proc_node(strbuf *sb, int32_t index, int32_t m, int32_t depth) {
    if (index < 0 || index >= m) return;
    s_procs_visited[index] = 1;
    const sysmon_proc_info *proc = &s_procs_scratch[index];
    strbuf_append(sb, "{");
    serialize_proc_fields(sb, proc);
    strbuf_append(sb, ",\"children\":[");
    if (depth < SYSMON_TREE_MAX_DEPTH) {
        bool first = true;
        for (int32_t k = 0; k < m; ++k) {
            const sysmon_proc_info *child = &s_procs_scratch[k];
            if (child->ppid != proc->pid || child->pid == proc->pid || s_procs_visited[k] != 0)
                continue;
            if (!first) strbuf_append(sb, ",");
            first = false;
            serialize_proc_node(sb, k, m, depth + 1);
        }
    }
    strbuf_append(sb, "]}");
}

void serialize_process_tree(strbuf *sb, int32_t limit) {
    const int32_t m = procs_filtered_copy();
    std::qsort(s_procs_scratch, static_cast<size_t>(m), sizeof s_procs_scratch[0], cmp_proc_cpu);
    std::memset(s_procs_visited, 0, sizeof s_procs_visited);
    strbuf_append(sb, "[");
    const int32_t roots_max = limit >= 1 ? limit : m;
    int32_t roots = 0;

    // Roots among the busiest: processes without a listed parent.
    const int32_t candidates = roots_max < m ? roots_max : m;
    for (int32_t j = 0; j < candidates; ++j) {
        if (s_procs_visited[j] != 0) continue;
        const sysmon_proc_info *proc = &s_procs_scratch[j];
        const bool root = proc->ppid <= 0 || proc->ppid == proc->pid || !parent_is_listed(proc->ppid, m);
        if (!root) continue;
        if (roots > 0) strbuf_append(sb, ",");
        serialize_proc_node(sb, j, m, 0);
        ++roots;
    }
    // Everything not reached yet (below the first candidates, in a parent
    // cycle, or below the depth limit) becomes a root, as the limit allows.
    for (int32_t k = 0; k < m && roots < roots_max; ++k) {
        if (s_procs_visited[k] != 0) continue;
        if (roots > 0) strbuf_append(sb, ",");
        serialize_proc_node(sb, k, m, 0);
        ++roots;
    }
    strbuf_append(sb, "]");
}
