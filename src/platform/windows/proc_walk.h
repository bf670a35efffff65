// The Windows process walk: the process records from each process's
// identity and figures, its processor share and transfer rates against the
// counters the previous collection stored for the same pid, and the clearing
// of only the records the previous collection filled.
//
// Called with the global lock held, like the collector that uses it.
// Capacities below 0 behave as 0.
#ifndef VANTOREL_WINDOWS_PROC_WALK_H
#define VANTOREL_WINDOWS_PROC_WALK_H

#include <cstddef>
#include <cstdint>

#include "counter_table.h"
#include "sysmon_internal.h"
#include "used_records.h"

// Counters of the processes measured by a collection, by pid. Values:
// processor time (100-nanosecond units), bytes read, bytes written; flags
// say which were read.
#define SYSMON_PROC_TABLE_SLOTS 4096
#define SYSMON_PROC_HAS_TIMES 1u
#define SYSMON_PROC_HAS_IO 2u
typedef counter_table<SYSMON_PROC_TABLE_SLOTS> proc_table;

// The identity of one process.
struct proc_identity {
    uint32_t pid;
    uint32_t ppid;
    uint32_t threads;
    const char *name;  // executable name, UTF-8, not necessarily terminated
    size_t name_size;  // size of the array that holds it
};

// The figures read for one process; each group only when its flag is set.
struct proc_figures {
    int32_t has_memory;
    uint64_t working_set;
    int32_t has_times;
    uint64_t kernel_time;  // 100-nanosecond units
    uint64_t user_time;
    int32_t has_io;
    uint64_t read_transfer;  // bytes since the process started
    uint64_t write_transfer;
};

struct proc_walk {
    sysmon_proc_info *procs;
    int32_t capacity;
    int32_t filled;
    const proc_table *prev;  // counters the shares and rates derive against
    uint32_t prev_cursor;    // where in `prev` the next pid is looked for first
    proc_table *next;        // receives the new counters
    double elapsed_sec;
    uint64_t memory_total;
    used_records *used;  // null: none kept
    int32_t dirty;       // records [filled, dirty) still hold the previous collection's figures
    record_list<sysmon_proc_info> *list;  // grown when full; null: a fixed array
};

// Sets the count to 0, clears the array up to the capacity and starts a
// walk; `next` is emptied (it must not be `prev`). With `used`, the
// collector's note of the records the previous collection filled, only
// those are cleared (the rest is zero already): each as it is handed out
// again, the ones left over by derive_proc_walk_end. Until then they keep
// their old figures, so a collection that starts a walk ends it.
void derive_proc_walk_begin(proc_walk *walk, sysmon_proc_info *procs,
                            int32_t *count, int32_t capacity,
                            const proc_table *prev, proc_table *next,
                            double elapsed_sec, uint64_t memory_total,
                            used_records *used = nullptr);
// The same over a list that grows when the walk finds more processes than it
// holds (record_list_reserve; the note in `used` follows the list's
// storage). The count is the list's.
void derive_proc_walk_begin(proc_walk *walk, record_list<sysmon_proc_info> *list,
                            const proc_table *prev, proc_table *next,
                            double elapsed_sec, uint64_t memory_total,
                            used_records *used = nullptr);
// The record the process at hand goes to, its identity filled in (see
// derive_proc_fill_identity) and its figures zero; null when reading is to
// stop: the capacity of a fixed array is reached, or a list or the new
// counter table could not grow (what was listed stays, complete).
sysmon_proc_info *derive_proc_walk_add(proc_walk *walk, const proc_identity *identity);
// Whether a pid is the idle (0) or the system (4) process, owned by the
// system and never opened.
int32_t derive_proc_is_system(uint32_t pid);
// Fills the identity fields of a record: pid, parent, name (the idle
// process's empty name reads "[System Process]"), the name again as the
// command, user "SYSTEM" for the system's processes and "" otherwise,
// status "running", thread count. Every text field is rewritten, so none
// keeps anything of a process the record held before; the record's
// texts must read as a text followed by zeros (as a zeroed or filled record
// does).
void derive_proc_fill_identity(sysmon_proc_info *proc, const proc_identity *identity);
// Memory, processor times and transfer counts: the share of one processor
// (uncut: 200 for two busy processors) and the byte rates derive against the counters the
// previous collection stored for the same pid (none: 0); the counters read
// are stored in the walk's new table.
void derive_proc_apply_figures(proc_walk *walk, sysmon_proc_info *proc,
                               const proc_figures *figures);
// The command line (UTF-8), when one was read; an empty one is ignored.
void derive_proc_set_command(sysmon_proc_info *proc, const char *command, size_t size);
void derive_proc_set_user(sysmon_proc_info *proc, const char *user);
// "stopped" when every thread of the process is suspended, else "running".
void derive_proc_set_status(sysmon_proc_info *proc, int32_t all_threads_suspended);
// Makes the counters stored in `next` findable, stores the number of
// records filled in the count, clears the records the previous collection
// filled beyond it, and notes the count in `used`.
void derive_proc_walk_end(const proc_walk *walk, int32_t *count);

#endif  // VANTOREL_WINDOWS_PROC_WALK_H
