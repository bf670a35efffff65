#include "proc_walk.h"

#include <cstddef>
#include <cstring>

#include "counter_rates.h"
#include "text_fields.h"

static int32_t usable_capacity(int32_t capacity) {
    return capacity > 0 ? capacity : 0;
}

// Zeroes a text field that holds its text followed by zeros only: as far as
// its text goes.
template <size_t N>
static void clear_text(char (&field)[N]) {
    const void *end = std::memchr(field, '\0', N);
    std::memset(field, 0, end != nullptr ? static_cast<size_t>(static_cast<const char *>(end) - field) : N);
}

// Zeroes the figures of a record a walk filled before; its identity and
// texts are about to be rewritten by derive_proc_fill_identity.
static void clear_proc_figures(sysmon_proc_info *proc) {
    char *bytes = reinterpret_cast<char *>(proc);
    std::memset(bytes + offsetof(sysmon_proc_info, cpu_percent), 0,
                sizeof *proc - offsetof(sysmon_proc_info, cpu_percent));
}

// Zeroes a record a walk filled before and does not fill again, touching
// a few cache lines instead of the whole 1.3 KB: everything before the
// command and everything after it in full, the command only as far as its
// text goes.
static void clear_proc_record(sysmon_proc_info *proc) {
    static_assert(offsetof(sysmon_proc_info, user) ==
                      offsetof(sysmon_proc_info, command) + sizeof(sysmon_proc_info::command),
                  "the user follows the command");
    char *bytes = reinterpret_cast<char *>(proc);
    std::memset(bytes, 0, offsetof(sysmon_proc_info, command));
    clear_text(proc->command);
    std::memset(proc->user, 0, sizeof *proc - offsetof(sysmon_proc_info, user));
}

// Writes `length` bytes of text into a field that holds a text followed by
// zeros only, and zeros what the old text left behind the new one: the
// field keeps that form, and a long field is written only as far as either
// text goes.
template <size_t N>
static void write_text(char (&field)[N], const char *text, size_t length) {
    std::memcpy(field, text, length);
    for (size_t i = length; i < N && field[i] != '\0'; ++i) field[i] = '\0';
}

void derive_proc_walk_begin(proc_walk *walk, sysmon_proc_info *procs,
                            int32_t *count, int32_t capacity,
                            const proc_table *prev, proc_table *next,
                            double elapsed_sec, uint64_t memory_total,
                            used_records *used) {
    const int32_t usable = usable_capacity(capacity);
    *count = 0;
    // The records the previous collection filled are cleared one by one:
    // each as it is handed out again (its lines are then at hand for the
    // filling), the rest when the walk ends.
    walk->dirty = used_records_dirty(used, procs, usable);
    walk->procs = procs;
    walk->capacity = usable;
    walk->filled = 0;
    walk->prev = prev;
    walk->prev_cursor = 0;
    walk->next = next;
    walk->elapsed_sec = elapsed_sec;
    walk->memory_total = memory_total;
    walk->used = used;
    walk->list = nullptr;
    next->clear();
}

void derive_proc_walk_begin(proc_walk *walk, record_list<sysmon_proc_info> *list,
                            const proc_table *prev, proc_table *next,
                            double elapsed_sec, uint64_t memory_total,
                            used_records *used) {
    derive_proc_walk_begin(walk, list->items, &list->count, list->capacity, prev, next,
                           elapsed_sec, memory_total, used);
    walk->list = list;
}

// Room for one more record: the list grows when full. Records past the old
// capacity arrive zeroed, and the note of the records in use moves with the
// storage, so the next collection clears only what this one filled.
static bool make_room(proc_walk *walk) {
    if (walk->filled < walk->capacity) return true;
    return used_records_grow(walk->used, walk->list, &walk->procs, &walk->capacity, walk->filled + 1);
}

// Asks for the cache lines a record's filling writes: its start, the
// start of the command, the user, the status and the numbers.
static void prefetch_proc_record(const sysmon_proc_info *proc) {
    __builtin_prefetch(proc, 1);
    __builtin_prefetch(proc->command, 1);
    __builtin_prefetch(proc->user, 1);
    __builtin_prefetch(proc->status, 1);
    __builtin_prefetch(&proc->cpu_time, 1);
}

sysmon_proc_info *derive_proc_walk_add(proc_walk *walk, const proc_identity *identity) {
    // Every record stores at most one row of counters.
    if (!make_room(walk) || !walk->next->reserve(walk->filled + 1)) return nullptr;
    // Records are filled one after the other, a few hundred bytes of each:
    // too scattered for the processor to foresee.
    if (walk->filled + 3 < walk->capacity) prefetch_proc_record(&walk->procs[walk->filled + 3]);
    sysmon_proc_info *proc = &walk->procs[walk->filled];
    if (walk->filled < walk->dirty) clear_proc_figures(proc);
    derive_proc_fill_identity(proc, identity);
    ++walk->filled;
    used_records_note(walk->used, walk->filled);
    return proc;
}

int32_t derive_proc_is_system(uint32_t pid) { return pid == 0 || pid == 4; }

void derive_proc_fill_identity(sysmon_proc_info *proc, const proc_identity *identity) {
    static const char kIdleName[] = "[System Process]";
    proc->pid = static_cast<int32_t>(identity->pid);
    proc->ppid = static_cast<int32_t>(identity->ppid);

    // The name goes into both the name and the command, each cut at a
    // character boundary to its field: measured once, copied twice.
    const char *text = identity->name;
    size_t length = 0;
    if (text != nullptr) {
        const size_t limit = identity->name_size < sizeof proc->command - 1
                                 ? identity->name_size
                                 : sizeof proc->command - 1;
        const void *nul = std::memchr(text, '\0', limit);
        length = nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - text) : limit;
    }
    size_t command_length = utf8_boundary(text, length);
    size_t name_length = length < sizeof proc->name ? command_length
                                                    : utf8_boundary(text, sizeof proc->name - 1);
    if (name_length == 0 && identity->pid == 0) {
        text = kIdleName;
        name_length = command_length = sizeof kIdleName - 1;
    } else if (command_length == 0) {
        // The command reads as the name when there is no name either.
        command_length = name_length;
    }
    // Only as far as the texts go: a short name leaves the rest of its
    // field, a cache line of its own, untouched.
    write_text(proc->name, text, name_length);
    write_text(proc->command, text, command_length);
    if (derive_proc_is_system(identity->pid))
        write_text(proc->user, "SYSTEM", 6);
    else
        write_text(proc->user, "", 0);
    write_text(proc->status, "running", 7);
    proc->threads = identity->threads > INT32_MAX ? INT32_MAX
                                                  : static_cast<int32_t>(identity->threads);
}

void derive_proc_apply_figures(proc_walk *walk, sysmon_proc_info *proc,
                               const proc_figures *figures) {
    if (figures->has_memory) {
        proc->memory_bytes = figures->working_set;
        if (walk->memory_total != 0)
            proc->memory_percent = static_cast<double>(figures->working_set) * 100.0 /
                                   static_cast<double>(walk->memory_total);
    }
    const uint64_t key = static_cast<uint32_t>(proc->pid);
    const counter_row *before = walk->prev->find_near(key, &walk->prev_cursor);
    uint32_t flags = 0;
    if (figures->has_times) {
        flags |= SYSMON_PROC_HAS_TIMES;
        proc->user_time = figures->user_time;
        proc->kernel_time = figures->kernel_time;
        proc->cpu_time = figures->user_time + figures->kernel_time;
        // Processor time is in 100-nanosecond units.
        if (before != nullptr && (before->flags & SYSMON_PROC_HAS_TIMES))
            proc->cpu_percent =
                process_cpu_percent(proc->cpu_time, before->values[0], walk->elapsed_sec);
    }
    if (figures->has_io) {
        flags |= SYSMON_PROC_HAS_IO;
        if (before != nullptr && (before->flags & SYSMON_PROC_HAS_IO)) {
            proc->read_bytes_sec =
                counter_rate(figures->read_transfer, before->values[1], walk->elapsed_sec);
            proc->write_bytes_sec =
                counter_rate(figures->write_transfer, before->values[2], walk->elapsed_sec);
        }
    }
    // A process whose figures could not be read is not stored: the next
    // collection finds no counters for it and shows no share, rather than
    // its whole lifetime as one burst.
    if (flags != 0) {
        const uint64_t values[3] = {proc->cpu_time, figures->read_transfer,
                                    figures->write_transfer};
        walk->next->append(key, values, flags);
    }
}

void derive_proc_set_command(sysmon_proc_info *proc, const char *command, size_t size) {
    if (command == nullptr || size == 0 || command[0] == '\0') return;
    text_field_copy(proc->command, sizeof proc->command, command, size);
}

void derive_proc_set_user(sysmon_proc_info *proc, const char *user) {
    text_field_copy(proc->user, sizeof proc->user, user, sizeof proc->user);
}

void derive_proc_set_status(sysmon_proc_info *proc, int32_t all_threads_suspended) {
    // Both words have seven letters: the rest of the field stays zero.
    static_assert(sizeof "stopped" == sizeof "running", "same length");
    std::memcpy(proc->status, all_threads_suspended ? "stopped" : "running", sizeof "running");
}

void derive_proc_walk_end(const proc_walk *walk, int32_t *count) {
    walk->next->index_appended();
    for (int32_t i = walk->filled; i < walk->dirty; ++i) clear_proc_record(&walk->procs[i]);
    used_records_end(walk->used, walk->filled, walk->capacity);
    *count = walk->filled;
}
