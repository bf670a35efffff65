// Reference version of the Windows process derivation, written the
// straightforward way: the whole record array cleared on every collection,
// each pid looked up in the previous processor times by scanning them, and
// that table rebuilt from the records afterwards. Slow on purpose and easy
// to check by reading; the differential test compares the library's
// derivation with it record by record, and the benchmark measures against
// it.
//
// What it fills: pid, parent, name, command (the name), user "SYSTEM",
// status "running", threads, working set and its share, processor times and
// the share of one processor. Texts are cut byte-wise, so feed it names that
// fit their fields or are plain ASCII.
#ifndef VANTOREL_TESTS_ORACLE_WINDOWS_PROCS_H
#define VANTOREL_TESTS_ORACLE_WINDOWS_PROCS_H

#include <cstddef>
#include <cstdint>

#include "sysmon_internal.h"

// Deliberate faults, for showing that the differential test notices a
// wrong figure. none everywhere except in the test that plants one.
enum class oracle_windows_proc_fault {
    none,
    last_duplicate_wins,  // a pid listed twice before takes its last times
    share_cut_at_100,     // a share above one processor is cut at 100
};
extern oracle_windows_proc_fault oracle_windows_proc_planted;

// Accumulated processor time of one process listed by the previous
// collection.
struct oracle_prev_proc_entry {
    int32_t pid;
    uint64_t cpu_time;
};

// One entry of the platform's process snapshot.
struct oracle_proc_entry {
    uint32_t pid;
    uint32_t ppid;
    uint32_t threads;
    const char *exe_name;    // not necessarily terminated
    size_t exe_name_size;    // size of the array that holds it
};

struct oracle_proc_walk {
    sysmon_proc_info *procs;
    int32_t capacity;
    int32_t filled;
};

// Sets the count to 0, clears the array up to the capacity and starts a walk.
void oracle_proc_walk_begin(oracle_proc_walk *walk, sysmon_proc_info *procs,
                            int32_t *count, int32_t capacity);
// The record the entry at hand goes to, or null when the capacity is reached
// and reading is to stop.
sysmon_proc_info *oracle_proc_walk_next(oracle_proc_walk *walk);
// Fills the identity fields of a record. Returns 1 when the process may be
// opened to read its figures, 0 for the idle process (pid 0).
int32_t oracle_proc_fill_identity(sysmon_proc_info *proc,
                                  const oracle_proc_entry *entry);
// Working set and its share of the memory total (no share when the total
// is 0).
void oracle_proc_apply_memory(sysmon_proc_info *proc, uint64_t working_set,
                              uint64_t memory_total);
// Processor times and the share of one processor since the previous
// collection, at most 100.
void oracle_proc_apply_times(sysmon_proc_info *proc, uint64_t kernel_time,
                             uint64_t user_time, const oracle_prev_proc_entry *prev,
                             int32_t prev_count, double elapsed_sec);
// Stores the count and rebuilds the previous table from the records filled.
void oracle_proc_walk_end(const oracle_proc_walk *walk, int32_t *count,
                          oracle_prev_proc_entry *prev, int32_t *prev_count);
// The previous table becomes the pid and processor time of the first
// min(count, SYSMON_MAX_PROCS) records (none for a count of 0).
void oracle_proc_rebuild_prev(oracle_prev_proc_entry *prev, int32_t *prev_count,
                              const sysmon_proc_info *procs, int32_t count);

#endif  // VANTOREL_TESTS_ORACLE_WINDOWS_PROCS_H
