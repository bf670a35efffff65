#include "process_view.h"

#include <cctype>
#include <cstring>

#include "documents.h"
#include "runtime_hooks.h"

int32_t *s_procs_visited;
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

const sysmon_proc_info *as_proc(const void *p) { return static_cast<const sysmon_proc_info *>(p); }

// -1, 0 or 1 without the overflow a subtraction of identifiers could cause.
int compare_pids(int32_t a, int32_t b) { return (a > b) - (a < b); }


// ---- Case folding ------------------------------------------------------------
// tolower of every byte value, read from the C runtime at the start of each
// listing that folds, so that folding follows the locale of the moment
// exactly as a call of tolower per byte would.

unsigned char s_fold[256];

void load_fold_table() {
    for (int c = 0; c < 256; ++c) s_fold[c] = static_cast<unsigned char>(std::tolower(c));
}

// ---- The filter search ------------------------------------------------------
// Shift-and matching over raw bytes: bit k of the state is set when the last
// k + 1 bytes read equal the first k + 1 bytes of the filter after folding,
// and one step per byte (shift, or, and with the mask of the byte) keeps it
// so. The filter occurs once bit length - 1 is set. Every field is searched
// in time linear in its length however nearly the filter matches it, and
// the step does not wait for a table look-up that depends on the state.
// The masks are built again only when the filter or the fold table changed.

struct filter_masks {
    // Bit k (low word: filter bytes 0-63, high word: 64-126) of mask[c] is set
    // when byte c folds to what filter byte k folds to.
    uint64_t low[256];
    uint64_t high[256];
    int32_t length;                  // filter length, 1 to 127
    char filter[SYSMON_FILTER_LEN];  // the filter they were built for
    unsigned char fold[256];         // the fold table they were built with
    bool built;
};

filter_masks s_masks;

void build_masks() {
    filter_masks &f = s_masks;
    if (f.built && std::memcmp(f.filter, s_process_filter, sizeof f.filter) == 0 &&
        std::memcmp(f.fold, s_fold, sizeof f.fold) == 0)
        return;
    std::memcpy(f.filter, s_process_filter, sizeof f.filter);
    std::memcpy(f.fold, s_fold, sizeof f.fold);
    std::memset(f.low, 0, sizeof f.low);
    std::memset(f.high, 0, sizeof f.high);
    int32_t length = 0;
    while (length < SYSMON_FILTER_LEN - 1 && s_process_filter[length] != '\0') ++length;
    f.length = length;
    f.built = true;
    for (int32_t k = 0; k < length; ++k) {
        const unsigned char wanted = s_fold[static_cast<unsigned char>(s_process_filter[k])];
        for (int c = 1; c < 256; ++c) {
            if (s_fold[c] != wanted) continue;
            if (k < 64)
                f.low[c] |= uint64_t{1} << k;
            else
                f.high[c] |= uint64_t{1} << (k - 64);
        }
    }
}

// Whether the filter occurs in the first `size` bytes of `field`, before its
// NUL.
bool filter_finds(const char *field, size_t size) {
    const filter_masks &f = s_masks;
    const void *end = std::memchr(field, '\0', size);
    const size_t n = end != nullptr ? static_cast<size_t>(static_cast<const char *>(end) - field) : size;
    const size_t length = static_cast<size_t>(f.length);
    if (n < length) return false;
    const unsigned char *text = reinterpret_cast<const unsigned char *>(field);
    // Eight steps at a time: a match at any step within them is a match, so
    // the test for it waits until the eighth.
    size_t i = 0;
    if (length <= 64) {
        const uint64_t found = uint64_t{1} << (length - 1);
        uint64_t state = 0;
        for (; n - i >= 8; i += 8) {
            uint64_t seen = 0;
            for (size_t k = 0; k < 8; ++k) {
                state = ((state << 1) | 1) & f.low[text[i + k]];
                seen |= state;
            }
            if ((seen & found) != 0) return true;
        }
        for (; i < n; ++i) {
            state = ((state << 1) | 1) & f.low[text[i]];
            if ((state & found) != 0) return true;
        }
        return false;
    }
    const uint64_t found = uint64_t{1} << (length - 65);
    uint64_t low = 0;
    uint64_t high = 0;
    for (; n - i >= 8; i += 8) {
        uint64_t seen = 0;
        for (size_t k = 0; k < 8; ++k) {
            high = ((high << 1) | (low >> 63)) & f.high[text[i + k]];
            low = ((low << 1) | 1) & f.low[text[i + k]];
            seen |= high;
        }
        if ((seen & found) != 0) return true;
    }
    for (; i < n; ++i) {
        high = ((high << 1) | (low >> 63)) & f.high[text[i]];
        low = ((low << 1) | 1) & f.low[text[i]];
        if ((high & found) != 0) return true;
    }
    return false;
}

// Prepares the filter of this listing; false when there is none.
bool filter_prepare() {
    if (s_process_filter[0] == '\0') return false;
    load_fold_table();
    build_masks();
    return true;
}

bool filter_passes(const sysmon_proc_info *proc) {
    return filter_finds(proc->name, sizeof proc->name) || filter_finds(proc->command, sizeof proc->command);
}

// ---- Sorting indexes ---------------------------------------------------------
// Keys of the records being sorted, by index into s_procs, so that the sort
// reads small arrays instead of whole records.

double *s_key_cpu;
uint64_t *s_key_mem;
int32_t *s_key_pid;
// The first eight bytes of the name, folded, big-endian, zero after the end
// of the name: comparing two of them compares those bytes as cmp_proc_name.
uint64_t *s_key_name;

int32_t *s_order;
int32_t *s_merge_tmp;

// cmp_proc_* of records a and b, as "a goes first or ties" (result <= 0).
struct cpu_first {
    bool operator()(int32_t a, int32_t b) const {
        if (s_key_cpu[b] > s_key_cpu[a]) return false;
        if (s_key_cpu[a] > s_key_cpu[b]) return true;
        return s_key_pid[a] <= s_key_pid[b];
    }
};

struct mem_first {
    bool operator()(int32_t a, int32_t b) const {
        if (s_key_mem[b] > s_key_mem[a]) return false;
        if (s_key_mem[a] > s_key_mem[b]) return true;
        return s_key_pid[a] <= s_key_pid[b];
    }
};

struct pid_first {
    bool operator()(int32_t a, int32_t b) const { return s_key_pid[a] <= s_key_pid[b]; }
};

struct name_first {
    bool operator()(int32_t a, int32_t b) const {
        if (s_key_name[a] != s_key_name[b]) return s_key_name[a] < s_key_name[b];
        if ((s_key_name[a] & 0xFF) == 0) return true;  // both names ended, equal
        const char *na = s_procs.items[a].name;
        const char *nb = s_procs.items[b].name;
        for (size_t i = 8; i < sizeof s_procs.items[a].name; ++i) {
            const int ca = s_fold[static_cast<unsigned char>(na[i])];
            const int cb = s_fold[static_cast<unsigned char>(nb[i])];
            if (ca != cb) return ca < cb;
            if (ca == 0) return true;
        }
        return true;
    }
};

// Top-down merge sort: a range is split at n/2, both halves are sorted, and
// the merge takes from the first half on a tie. Only the comparisons'
// results matter, so the order is the same as for any other implementation
// of this scheme with the same comparator (glibc's qsort among them). This
// one sorts `items` into `into`, which starts as a copy of `items` and is
// used for the halves, so that no merge needs copying back.
template <typename First>
void merge_sort_into(int32_t *into, int32_t *items, int32_t n, First first) {
    if (n <= 1) return;
    const int32_t n1 = n / 2;
    merge_sort_into(items, into, n1, first);
    merge_sort_into(items + n1, into + n1, n - n1, first);
    int32_t a = 0;
    int32_t b = n1;
    int32_t out = 0;
    while (a < n1 && b < n) into[out++] = first(items[a], items[b]) ? items[a++] : items[b++];
    while (a < n1) into[out++] = items[a++];
    while (b < n) into[out++] = items[b++];
}

template <typename First>
void merge_sort(int32_t *items, int32_t n, First first) {
    std::memcpy(s_merge_tmp, items, static_cast<size_t>(n) * sizeof items[0]);
    merge_sort_into(items, s_merge_tmp, n, first);
}

uint64_t folded_name_prefix(const char *name) {
    uint64_t key = 0;
    bool ended = false;
    for (int i = 0; i < 8; ++i) {
        const unsigned char c = ended ? 0 : s_fold[static_cast<unsigned char>(name[i])];
        if (c == 0) ended = true;
        key = (key << 8) | c;
    }
    return key;
}

// Asks the processor to start loading the parts of a record that
// serialize_proc_fields reads (the numbers, the name, the start of the
// command, the user and status), while the record before it is written.
void prefetch_record(const sysmon_proc_info *proc) {
    const char *base = reinterpret_cast<const char *>(proc);
    __builtin_prefetch(base);
    __builtin_prefetch(base + 64);
    __builtin_prefetch(base + 128);
    __builtin_prefetch(base + 192);
    __builtin_prefetch(proc->user);
    __builtin_prefetch(&proc->write_bytes_sec);
}

// ---- The tree ----------------------------------------------------------------
// By position j in the sorted list: pid and ppid; the range of the listed
// children candidates (records whose ppid is j's pid, in list order) within
// s_by_ppid; whether j's parent is listed. Records that are their own parent
// are nobody's child and are left out of s_by_ppid.

int32_t *s_pid;
int32_t *s_ppid;
int32_t *s_by_pid;
int32_t *s_by_ppid;
int32_t *s_radix_tmp;
int32_t *s_children_begin;
int32_t *s_children_end;
int32_t *s_place_by_ppid;  // j's place in s_by_ppid, -1 if none
uint8_t *s_parent_listed;
// Over places of s_by_ppid (and one past the end): the first place at or
// after it whose process is not written yet, with the paths shortened as
// they are followed. Written processes are skipped in near-constant time.
int32_t *s_next_unwritten;

// ---- Work area -----------------------------------------------------------------
// The arrays above (and s_procs_visited) for `s_work_capacity` records, carved
// from one block: static storage for the process list's initial size, one
// heap block once the list outgrows it, kept for the life of the library.

// Bytes of the work area per record: eight-byte keys first, so that every
// array stays aligned.
constexpr size_t kWorkBytesPerRecord = 3 * sizeof(uint64_t) + 13 * sizeof(int32_t) + sizeof(uint8_t);

size_t work_bytes(int32_t capacity) {
    // One more entry of s_next_unwritten, rounded up to eight bytes.
    return static_cast<size_t>(capacity) * kWorkBytesPerRecord + 8;
}

alignas(8) unsigned char s_work_initial[SYSMON_MAX_PROCS * kWorkBytesPerRecord + 8];
unsigned char *s_work_heap = nullptr;
int32_t s_work_capacity = 0;

void work_carve(unsigned char *block, int32_t capacity) {
    const size_t n = static_cast<size_t>(capacity);
    unsigned char *at = block;
    auto take = [&at](size_t bytes) {
        unsigned char *p = at;
        at += bytes;
        return p;
    };
    s_key_cpu = reinterpret_cast<double *>(take(n * sizeof(double)));
    s_key_mem = reinterpret_cast<uint64_t *>(take(n * sizeof(uint64_t)));
    s_key_name = reinterpret_cast<uint64_t *>(take(n * sizeof(uint64_t)));
    int32_t **ints[] = {&s_key_pid, &s_order, &s_merge_tmp, &s_pid, &s_ppid, &s_by_pid,
                        &s_by_ppid, &s_radix_tmp, &s_children_begin, &s_children_end,
                        &s_place_by_ppid, &s_procs_visited};
    for (int32_t **array : ints) *array = reinterpret_cast<int32_t *>(take(n * sizeof(int32_t)));
    s_next_unwritten = reinterpret_cast<int32_t *>(take((n + 1) * sizeof(int32_t)));
    s_parent_listed = take(n);
    s_work_capacity = capacity;
}

// Makes the work area hold `needed` records where memory allows; returns the
// number of records it holds.
int32_t work_reserve(int32_t needed) {
    if (s_work_capacity == 0) work_carve(s_work_initial, SYSMON_MAX_PROCS);
    if (needed <= s_work_capacity) return s_work_capacity;
    int64_t grown = static_cast<int64_t>(s_work_capacity) * 2;
    if (grown < needed) grown = needed;
    if (static_cast<uint64_t>(grown) > (SIZE_MAX - 8) / kWorkBytesPerRecord) return s_work_capacity;
    unsigned char *block = static_cast<unsigned char *>(s_hooks.mem_alloc(work_bytes(static_cast<int32_t>(grown))));
    if (block == nullptr) return s_work_capacity;
    if (s_work_heap != nullptr) s_hooks.mem_free(s_work_heap);
    s_work_heap = block;
    work_carve(block, static_cast<int32_t>(grown));
    return s_work_capacity;
}

// The number of records a view lists: the collected ones, as far as the work
// area can hold them.
int32_t listed_count(int32_t count) {
    if (count < 0) count = 0;
    if (count > s_procs.capacity) count = s_procs.capacity;
    const int32_t room = work_reserve(count);
    return count < room ? count : room;
}

// Sorts positions `items[0..n)` by keys[position], smallest first, equal keys
// in the order given: a stable radix sort over the four bytes of the key
// (sign flipped), skipping bytes in which all keys agree. Result in `items`.
void radix_sort(int32_t *items, int32_t n, const int32_t *keys) {
    uint32_t counts[4][256] = {};
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t k = static_cast<uint32_t>(keys[items[i]]) ^ 0x80000000u;
        for (int d = 0; d < 4; ++d) ++counts[d][(k >> (8 * d)) & 0xFF];
    }
    int32_t *from = items;
    int32_t *to = s_radix_tmp;
    for (int d = 0; d < 4; ++d) {
        if (n == 0) break;
        const uint32_t first_digit = ((static_cast<uint32_t>(keys[from[0]]) ^ 0x80000000u) >> (8 * d)) & 0xFF;
        if (counts[d][first_digit] == static_cast<uint32_t>(n)) continue;  // all alike in this byte
        uint32_t start[256];
        uint32_t sum = 0;
        for (int c = 0; c < 256; ++c) {
            start[c] = sum;
            sum += counts[d][c];
        }
        for (int32_t i = 0; i < n; ++i) {
            const uint32_t k = static_cast<uint32_t>(keys[from[i]]) ^ 0x80000000u;
            to[start[(k >> (8 * d)) & 0xFF]++] = from[i];
        }
        int32_t *swap = from;
        from = to;
        to = swap;
    }
    if (from != items) std::memcpy(items, from, static_cast<size_t>(n) * sizeof items[0]);
}

int32_t find_unwritten(int32_t place) {
    int32_t root = place;
    while (s_next_unwritten[root] != root) root = s_next_unwritten[root];
    while (s_next_unwritten[place] != root) {
        const int32_t next = s_next_unwritten[place];
        s_next_unwritten[place] = root;
        place = next;
    }
    return root;
}

// Prepares children ranges and parent look-ups for the m listed processes.
void tree_prepare(const int32_t *order, int32_t m) {
    for (int32_t j = 0; j < m; ++j) {
        s_pid[j] = s_procs.items[order[j]].pid;
        s_ppid[j] = s_procs.items[order[j]].ppid;
        s_by_pid[j] = j;
        s_parent_listed[j] = 0;
        s_children_begin[j] = 0;
        s_children_end[j] = 0;
        s_place_by_ppid[j] = -1;
    }
    int32_t candidates = 0;
    for (int32_t j = 0; j < m; ++j)
        if (s_ppid[j] != s_pid[j]) s_by_ppid[candidates++] = j;
    radix_sort(s_by_pid, m, s_pid);
    radix_sort(s_by_ppid, candidates, s_ppid);
    for (int32_t place = 0; place < candidates; ++place) {
        s_place_by_ppid[s_by_ppid[place]] = place;
        s_next_unwritten[place] = place;
    }
    s_next_unwritten[candidates] = candidates;
    // Walk both sorted lists together: each run of equal pids meets the run
    // of processes whose ppid is that pid.
    int32_t g = 0;
    for (int32_t s = 0; s < m;) {
        const int32_t pid = s_pid[s_by_pid[s]];
        int32_t e = s;
        while (e < m && s_pid[s_by_pid[e]] == pid) ++e;
        while (g < candidates && s_ppid[s_by_ppid[g]] < pid) ++g;
        int32_t ge = g;
        while (ge < candidates && s_ppid[s_by_ppid[ge]] == pid) ++ge;
        for (int32_t t = s; t < e; ++t) {
            s_children_begin[s_by_pid[t]] = g;
            s_children_end[s_by_pid[t]] = ge;
        }
        for (int32_t t = g; t < ge; ++t) s_parent_listed[s_by_ppid[t]] = 1;
        s = e;
    }
}

void tree_write_node(strbuf *sb, const int32_t *order, int32_t j, int32_t depth) {
    s_procs_visited[j] = 1;
    if (s_place_by_ppid[j] >= 0) s_next_unwritten[s_place_by_ppid[j]] = s_place_by_ppid[j] + 1;
    if (s_children_begin[j] < s_children_end[j]) prefetch_record(&s_procs.items[order[s_by_ppid[s_children_begin[j]]]]);
    strbuf_append_lit(sb, "{");
    serialize_proc_fields(sb, &s_procs.items[order[j]]);
    strbuf_append_lit(sb, ",\"children\":[");
    if (depth < SYSMON_TREE_MAX_DEPTH) {
        const int32_t end = s_children_end[j];
        bool first = true;
        for (int32_t place = find_unwritten(s_children_begin[j]); place < end;
             place = find_unwritten(place + 1)) {
            if (!first) strbuf_append_lit(sb, ",");
            first = false;
            if (place + 1 < end) prefetch_record(&s_procs.items[order[s_by_ppid[place + 1]]]);
            tree_write_node(sb, order, s_by_ppid[place], depth + 1);
        }
    }
    strbuf_append_lit(sb, "]}");
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
    if (!filter_prepare()) return true;
    return filter_passes(proc);
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

const int32_t *procs_sorted(bool filtered, int32_t sort_by, int32_t *count) {
    const int32_t n = listed_count(s_procs.count);
    const bool filter = filtered && filter_prepare();
    if (sort_by == 3 && !filter) load_fold_table();
    int32_t m = 0;
    for (int32_t i = 0; i < n; ++i)
        if (!filter || filter_passes(&s_procs.items[i])) s_order[m++] = i;
    switch (sort_by) {
        case 1:
            for (int32_t k = 0; k < m; ++k) {
                s_key_mem[s_order[k]] = s_procs.items[s_order[k]].memory_bytes;
                s_key_pid[s_order[k]] = s_procs.items[s_order[k]].pid;
            }
            merge_sort(s_order, m, mem_first{});
            break;
        case 2:
            for (int32_t k = 0; k < m; ++k) s_key_pid[s_order[k]] = s_procs.items[s_order[k]].pid;
            merge_sort(s_order, m, pid_first{});
            break;
        case 3:
            for (int32_t k = 0; k < m; ++k) s_key_name[s_order[k]] = folded_name_prefix(s_procs.items[s_order[k]].name);
            merge_sort(s_order, m, name_first{});
            break;
        default:
            for (int32_t k = 0; k < m; ++k) {
                s_key_cpu[s_order[k]] = s_procs.items[s_order[k]].cpu_percent;
                s_key_pid[s_order[k]] = s_procs.items[s_order[k]].pid;
            }
            merge_sort(s_order, m, cpu_first{});
            break;
    }
    *count = m;
    return s_order;
}

void serialize_process_list(strbuf *sb, int32_t limit, int32_t sort_by) {
    int32_t m = 0;
    const int32_t *order = procs_sorted(true, sort_by, &m);
    const int32_t n = (limit < 1 || limit >= m) ? m : limit;
    strbuf_append_lit(sb, "[");
    for (int32_t k = 0; k < n; ++k) {
        if (k + 1 < n) prefetch_record(&s_procs.items[order[k + 1]]);
        if (k > 0)
            strbuf_append_lit(sb, ",{");
        else
            strbuf_append_lit(sb, "{");
        serialize_proc_fields(sb, &s_procs.items[order[k]]);
        strbuf_append_lit(sb, "}");
    }
    strbuf_append_lit(sb, "]");
}

void serialize_process_tree(strbuf *sb, int32_t limit) {
    int32_t m = 0;
    const int32_t *order = procs_sorted(true, 0, &m);
    tree_prepare(order, m);
    std::memset(s_procs_visited, 0, sizeof s_procs_visited[0] * static_cast<size_t>(m));
    strbuf_append_lit(sb, "[");
    const int32_t roots_max = limit >= 1 ? limit : m;
    int32_t roots = 0;

    // Roots among the busiest: processes without a listed parent.
    const int32_t candidates = roots_max < m ? roots_max : m;
    for (int32_t j = 0; j < candidates; ++j) {
        if (j + 1 < candidates) prefetch_record(&s_procs.items[order[j + 1]]);
        if (s_procs_visited[j] != 0) continue;
        const bool root = s_ppid[j] <= 0 || s_ppid[j] == s_pid[j] || s_parent_listed[j] == 0;
        if (!root) continue;
        if (roots > 0) strbuf_append_lit(sb, ",");
        tree_write_node(sb, order, j, 0);
        ++roots;
    }
    // Everything not reached yet (below the first candidates, in a parent
    // cycle, or below the depth limit) becomes a root, as the limit allows.
    for (int32_t k = 0; k < m && roots < roots_max; ++k) {
        if (s_procs_visited[k] != 0) continue;
        if (roots > 0) strbuf_append_lit(sb, ",");
        tree_write_node(sb, order, k, 0);
        ++roots;
    }
    strbuf_append_lit(sb, "]");
}
