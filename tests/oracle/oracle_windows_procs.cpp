#include "oracle_windows_procs.h"

#include <cstring>

oracle_windows_proc_fault oracle_windows_proc_planted = oracle_windows_proc_fault::none;

// Copies at most dst_size - 1 bytes of `src` into `dst`, ending early at a
// NUL, and terminates the copy. `src` is read only within its first
// `src_size` bytes, so it need not be terminated.
static void copy_text(char *dst, size_t dst_size, const char *src,
                      size_t src_size) {
    if (dst_size == 0) return;
    size_t n = 0;
    if (src != nullptr) {
        const size_t limit = src_size < dst_size - 1 ? src_size : dst_size - 1;
        while (n < limit && src[n] != '\0') {
            dst[n] = src[n];
            ++n;
        }
    }
    dst[n] = '\0';
}

// Copies a literal (always terminated) into a field.
template <size_t N>
static void set_text(char (&field)[N], const char *text) {
    copy_text(field, N, text, N);
}

static int32_t usable_capacity(int32_t capacity) {
    return capacity > 0 ? capacity : 0;
}

void oracle_proc_walk_begin(oracle_proc_walk *walk, sysmon_proc_info *procs,
                            int32_t *count, int32_t capacity) {
    const int32_t usable = usable_capacity(capacity);
    *count = 0;
    std::memset(procs, 0, sizeof *procs * static_cast<size_t>(usable));
    walk->procs = procs;
    walk->capacity = usable;
    walk->filled = 0;
}

sysmon_proc_info *oracle_proc_walk_next(oracle_proc_walk *walk) {
    if (walk->filled >= walk->capacity) return nullptr;
    return &walk->procs[walk->filled++];
}

int32_t oracle_proc_fill_identity(sysmon_proc_info *proc,
                                  const oracle_proc_entry *entry) {
    proc->pid = static_cast<int32_t>(entry->pid);
    proc->ppid = static_cast<int32_t>(entry->ppid);
    copy_text(proc->name, sizeof proc->name, entry->exe_name,
              entry->exe_name_size);
    copy_text(proc->command, sizeof proc->command, entry->exe_name,
              entry->exe_name_size);
    set_text(proc->user, "SYSTEM");
    set_text(proc->status, "running");
    proc->threads = static_cast<int32_t>(entry->threads);
    // The idle process cannot be opened and has nothing to read.
    return proc->pid != 0;
}

void oracle_proc_apply_memory(sysmon_proc_info *proc, uint64_t working_set,
                              uint64_t memory_total) {
    proc->memory_bytes = working_set;
    if (memory_total != 0)
        proc->memory_percent = static_cast<double>(working_set) * 100.0 /
                               static_cast<double>(memory_total);
}

void oracle_proc_apply_times(sysmon_proc_info *proc, uint64_t kernel_time,
                             uint64_t user_time, const oracle_prev_proc_entry *prev,
                             int32_t prev_count, double elapsed_sec) {
    proc->user_time = user_time;
    proc->kernel_time = kernel_time;
    proc->cpu_time = user_time + kernel_time;
    proc->cpu_percent = 0.0;

    int32_t last = -1;
    if (oracle_windows_proc_planted == oracle_windows_proc_fault::last_duplicate_wins)
        for (int32_t j = 0; j < prev_count; ++j)
            if (prev[j].pid == proc->pid) last = j;
    for (int32_t j = last >= 0 ? last : 0; j < prev_count; ++j) {
        if (prev[j].pid != proc->pid) continue;
        if (proc->cpu_time < prev[j].cpu_time || !(elapsed_sec > 0.001)) return;
        const double delta = static_cast<double>(proc->cpu_time - prev[j].cpu_time);
        // Processor time is in 100-nanosecond units; the share is of one
        // processor, so a process busy on two reads 200.
        const double share = delta * 1e-7 / elapsed_sec * 100.0;
        proc->cpu_percent = share;
        if (oracle_windows_proc_planted == oracle_windows_proc_fault::share_cut_at_100)
            proc->cpu_percent = share > 100.0 ? 100.0 : share;
        return;
    }
}

void oracle_proc_rebuild_prev(oracle_prev_proc_entry *prev, int32_t *prev_count,
                              const sysmon_proc_info *procs, int32_t count) {
    int32_t n = usable_capacity(count);
    if (n > SYSMON_MAX_PROCS) n = SYSMON_MAX_PROCS;
    for (int32_t j = 0; j < n; ++j) {
        prev[j].pid = procs[j].pid;
        prev[j].cpu_time = procs[j].cpu_time;
    }
    *prev_count = n;
}

void oracle_proc_walk_end(const oracle_proc_walk *walk, int32_t *count,
                          oracle_prev_proc_entry *prev, int32_t *prev_count) {
    *count = walk->filled;
    oracle_proc_rebuild_prev(prev, prev_count, walk->procs, walk->filled);
}
