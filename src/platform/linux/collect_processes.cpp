// Process collector: one record per /proc/PID directory. Per process it
// reads stat (identity, state, threads, times, resident set), cmdline and io,
// all opened relative to one descriptor of the proc root; status only when
// the real user id is not known yet for that process. The system calls are
// what a sweep costs, so each file is opened and read once, the descriptors
// are closed a batch at a time, and the owner of the process is asked of
// the open stat file rather than by path.
//
// A process that has not run since its command line and io counters were
// last read cannot have changed either: a command line changes by exec or
// by the process writing its own argument memory, and read_bytes and
// write_bytes are charged to the task that submits or dirties the I/O,
// while it runs. For a sleeping single-threaded process seen before, with
// the same task name and processor time, schedstat (run time in ns and
// number of times put on a processor) tells whether it ran: unchanged, the
// command, name and io counters kept from the last full read are used
// again, byte for byte what reading them would give. Multi-threaded
// processes are always read in full (schedstat speaks for one thread), and
// so is every process when schedstat cannot be read. Nothing is allocated
// per process: every buffer is static, and the lists and tables grow only
// when the machine has more processes than they ever held.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "closing_batch.h"
#include "counter_rates.h"
#include "file_read.h"
#include "linux_sources.h"
#include "pid_files_parse.h"
#include "sysmon_internal.h"
#include "text_scan.h"
#include "text_utf8.h"
#include "used_records.h"
#include "user_names.h"

namespace {

// What a collection keeps of each process it listed, ascending by pid.
struct proc_counters_entry {
    int32_t pid;
    int32_t has_io;
    uint64_t start_time;   // tells a reused pid from the process before
    uint64_t cpu_time;     // 100-ns units
    uint64_t read_bytes;
    uint64_t write_bytes;
    // The real uid read from status, with the owner of /proc/PID at that
    // moment: while start time and owner stay the same, the real uid is
    // taken from here instead of reading status again.
    int32_t has_real_uid;
    uint32_t real_uid;
    uint32_t owner_uid;
    int32_t threads;
    // Set when schedstat was read before the command line and io of the
    // last full read: its figures then, and where the task name, command
    // and name of that read lie in the table's texts.
    int32_t has_cache;
    uint64_t run_ns;
    uint64_t timeslices;
    uint32_t text_at;
    uint32_t comm_len;
    uint32_t command_len;
    uint32_t name_len;
};

struct proc_counters {
    record_list<proc_counters_entry> entries;
    record_list<char> texts;  // task names, commands and names, back to back
};

baseline_pair<proc_counters> s_baselines;
proc_counters s_discard;

// Raw directory entries of the proc root.
alignas(8) char s_dirents[64 * 1024];
char s_stat_text[4096];
char s_status_text[8192];
char s_cmdline[4096];
char s_io_text[1024];
char s_schedstat_text[256];
// The sweep's descriptors, closed a batch at a time.
closing_batch s_closing;

struct linux_dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

bool entry_less(const proc_counters_entry &a, const proc_counters_entry &b) { return a.pid < b.pid; }

const proc_counters_entry *find_entry(const proc_counters &c, int32_t pid) {
    const proc_counters_entry *end = c.entries.items + c.entries.count;
    const proc_counters_entry *at = std::lower_bound(
        static_cast<const proc_counters_entry *>(c.entries.items), end, pid, [](const proc_counters_entry &e, int32_t p) { return e.pid < p; });
    return at != end && at->pid == pid ? at : nullptr;
}

uint64_t ticks_to_100ns(uint64_t ticks, uint64_t hz) {
    if (hz == 0) return 0;
    if (10000000 % hz == 0) return saturating_mul(ticks, 10000000 / hz);
    return saturating_mul(ticks, 10000000) / hz;
}

// Opens `name` relative to `dir_fd`; when the descriptors run out, the
// batch waiting to be closed is closed and the open tried once more.
int open_pid_file(int dir_fd, const char *name) {
    int fd = openat(dir_fd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && (errno == EMFILE || errno == ENFILE) && s_closing.count > 0) {
        closing_batch_flush(&s_closing);
        fd = openat(dir_fd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    }
    return fd;
}

// Reads the file `name` (open relative to `dir_fd`) into `buffer`, at most
// size - 1 bytes, NUL-terminated; -1 when it cannot be opened or read. The
// files of a process are produced whole by the first read, so a read that
// returns less than asked for ends the file: no second call to see the end.
int64_t read_pid_file(int dir_fd, const char *name, char *buffer, size_t size) {
    buffer[0] = '\0';
    const int fd = open_pid_file(dir_fd, name);
    if (fd < 0) return -1;
    const int64_t n = read_open_file(fd, buffer, size, true);
    closing_batch_add(&s_closing, fd);
    return n;
}

// "1234/" and room for a file name after it.
struct pid_path {
    char text[64];
    size_t dir_len;

    pid_path(const char *pid_name, size_t pid_len) : dir_len(pid_len + 1) {
        std::memcpy(text, pid_name, pid_len);
        text[pid_len] = '/';
        text[dir_len] = '\0';
    }
    // "1234/<file>", for file names of at most 15 bytes.
    const char *file(const char *name) {
        const size_t n = std::strlen(name);
        std::memcpy(text + dir_len, name, n + 1);
        return text;
    }
};

// Appends the task name, command and name to `store`'s texts and notes
// where they lie in `kept`; false when the texts cannot grow.
bool keep_texts(proc_counters *store, proc_counters_entry *kept, const char *comm, size_t comm_len,
                const char *command, size_t command_len, const char *name, size_t name_len) {
    record_list<char> &t = store->texts;
    const int64_t needed = static_cast<int64_t>(t.count) + static_cast<int64_t>(comm_len + command_len + name_len);
    if (needed > INT32_MAX || !record_list_reserve(&t, static_cast<int32_t>(needed))) return false;
    char *at = t.items + t.count;
    std::memcpy(at, comm, comm_len);
    std::memcpy(at + comm_len, command, command_len);
    std::memcpy(at + comm_len + command_len, name, name_len);
    kept->text_at = static_cast<uint32_t>(t.count);
    kept->comm_len = static_cast<uint32_t>(comm_len);
    kept->command_len = static_cast<uint32_t>(command_len);
    kept->name_len = static_cast<uint32_t>(name_len);
    t.count = static_cast<int32_t>(needed);
    return true;
}

// Copies `len` bytes into a zeroed text field and terminates them.
template <size_t N>
void set_field(char (&field)[N], const char *text, size_t len) {
    if (len > N - 1) len = N - 1;
    std::memcpy(field, text, len);
    field[len] = '\0';
}

struct collection {
    int proc_fd;
    uint64_t hz;
    uint64_t page_size;
    uint64_t memory_total;
    double elapsed;
    const proc_counters *base;     // rates derive against it
    const proc_counters *newest;   // the latest knowledge of real uids and of what was read
    proc_counters *store;
};

// The pid a /proc entry of 1 to 11 digits names (0 past 32 bits: no pid).
int32_t pid_of(const char *name, size_t len) {
    uint64_t v = 0;
    for (size_t i = 0; i < len; ++i) v = v * 10 + static_cast<uint64_t>(name[i] - '0');
    return v <= INT32_MAX ? static_cast<int32_t>(v) : 0;
}

// Reads one process into `proc` and `kept`. False when its stat file could
// not be read: the process vanished and is not listed.
bool read_process(const collection &c, const char *pid_name, size_t pid_len, sysmon_proc_info *proc,
                  proc_counters_entry *kept) {
    pid_path path(pid_name, pid_len);

    // A process last seen single-threaded, whose command line and io were
    // kept with its schedstat, has schedstat read first: unchanged, it has
    // not run since, so neither its owner nor (below) its command line and
    // io can have changed, and the owner is not asked again.
    const proc_counters_entry *known = find_entry(*c.newest, pid_of(pid_name, pid_len));
    pid_schedstat sched{};
    bool has_sched = false;
    bool quiet = false;
    if (known != nullptr && known->threads == 1 && known->has_cache != 0) {
        const int64_t n = read_pid_file(c.proc_fd, path.file("schedstat"), s_schedstat_text,
                                        sizeof s_schedstat_text);
        has_sched = n > 0 && parse_pid_schedstat(s_schedstat_text, static_cast<size_t>(n), &sched);
        quiet = has_sched && known->run_ns == sched.run_ns && known->timeslices == sched.timeslices;
    }

    const int stat_fd = open_pid_file(c.proc_fd, path.file("stat"));
    if (stat_fd < 0) return false;
    const int64_t stat_len = read_open_file(stat_fd, s_stat_text, sizeof s_stat_text, true);
    pid_stat st;
    if (stat_len <= 0 || !parse_pid_stat(s_stat_text, static_cast<size_t>(stat_len), &st)) {
        closing_batch_add(&s_closing, stat_fd);
        return false;
    }
    std::memset(proc, 0, sizeof *proc);
    std::memset(kept, 0, sizeof *kept);
    proc->user_time = ticks_to_100ns(st.utime, c.hz);
    proc->kernel_time = ticks_to_100ns(st.stime, c.hz);
    proc->cpu_time = saturating_add(proc->user_time, proc->kernel_time);
    if (known != nullptr && known->start_time != st.start_time) {
        known = nullptr;  // another process under the same pid
        has_sched = quiet = false;
    }
    // Whether it may not have run since it was last listed: one thread now
    // and then, not running now, the same processor time.
    const bool single = st.num_threads == 1 && st.state != 'R';
    const bool steady = known != nullptr && known->threads == 1 && known->cpu_time == proc->cpu_time;
    // The owner as of the stat file: asked unless schedstat and stat agree
    // that the process has not run since it was last asked.
    struct stat owner;
    bool has_owner = false;
    if (quiet && single && steady) {
        owner.st_uid = known->owner_uid;
        has_owner = true;
    } else {
        quiet = false;
        has_owner = fstat(stat_fd, &owner) == 0;
    }
    closing_batch_add(&s_closing, stat_fd);

    proc->pid = st.pid;
    proc->ppid = st.ppid;
    proc->threads = st.num_threads;
    utf8_set(proc->status, pid_state_word(st.state));
    proc->memory_bytes = saturating_mul(st.rss_pages, c.page_size);
    if (c.memory_total != 0)
        proc->memory_percent = static_cast<double>(proc->memory_bytes) * 100.0 /
                               static_cast<double>(c.memory_total);
    kept->pid = st.pid;
    kept->start_time = st.start_time;
    kept->cpu_time = proc->cpu_time;
    kept->threads = st.num_threads;

    // Until the command line is read, the name is the task name.
    utf8_set(proc->name, st.comm, st.comm_len);

    // The real user: known from an earlier collection while the process is
    // the same and its owner (that of its files, as of its directory) has
    // not changed.
    if (has_owner) {
        if (known != nullptr && known->has_real_uid && known->owner_uid == owner.st_uid) {
            kept->has_real_uid = 1;
            kept->real_uid = known->real_uid;
        } else {
            const int64_t n = read_pid_file(c.proc_fd, path.file("status"), s_status_text,
                                            sizeof s_status_text);
            uint32_t uid = 0;
            if (n > 0 && parse_status_real_uid(s_status_text, static_cast<size_t>(n), &uid)) {
                kept->has_real_uid = 1;
                kept->real_uid = uid;
            }
        }
        kept->owner_uid = owner.st_uid;
        if (kept->has_real_uid) utf8_set(proc->user, user_name_of(kept->real_uid));
    }

    // What its last full read gave applies while the task name and owner
    // are the same.
    const bool cached =
        steady && has_owner && known->owner_uid == owner.st_uid && known->has_cache != 0 &&
        known->comm_len == st.comm_len &&
        (st.comm_len == 0 || std::memcmp(c.newest->texts.items + known->text_at, st.comm, st.comm_len) == 0);
    if (!single || !(steady || known == nullptr)) {
        has_sched = false;  // a busy or multi-threaded process is read in full without it
    } else if (!has_sched) {
        // Read before the command line and io: should the process run
        // after this, the figures kept are older than what was read, and
        // the next collection reads it in full again.
        const int64_t n = read_pid_file(c.proc_fd, path.file("schedstat"), s_schedstat_text,
                                        sizeof s_schedstat_text);
        has_sched = n > 0 && parse_pid_schedstat(s_schedstat_text, static_cast<size_t>(n), &sched);
    }
    if (has_sched && cached && known->run_ns == sched.run_ns &&
        known->timeslices == sched.timeslices) {
        // It has not run since: what was read then is what it holds now.
        const char *texts = c.newest->texts.items + known->text_at;
        set_field(proc->command, texts + known->comm_len, known->command_len);
        set_field(proc->name, texts + known->comm_len + known->command_len, known->name_len);
        kept->has_io = known->has_io;
        kept->read_bytes = known->read_bytes;
        kept->write_bytes = known->write_bytes;
    } else {
        const int64_t cmd_len =
            read_pid_file(c.proc_fd, path.file("cmdline"), s_cmdline, sizeof s_cmdline);
        pid_command_and_name(st.comm, st.comm_len, s_cmdline, cmd_len > 0 ? static_cast<size_t>(cmd_len) : 0,
                             proc->command, sizeof proc->command, proc->name, sizeof proc->name);

        const int64_t io_len =
            read_pid_file(c.proc_fd, path.file("io"), s_io_text, sizeof s_io_text);
        if (io_len > 0 &&
            parse_pid_io(s_io_text, static_cast<size_t>(io_len), &kept->read_bytes, &kept->write_bytes))
            kept->has_io = 1;
    }
    if (has_sched && keep_texts(c.store, kept, st.comm, st.comm_len, proc->command, std::strlen(proc->command),
                                proc->name, std::strlen(proc->name))) {
        kept->has_cache = 1;
        kept->run_ns = sched.run_ns;
        kept->timeslices = sched.timeslices;
    }

    // Rates against the same process (same pid and start time) in the baseline.
    const proc_counters_entry *prev = find_entry(*c.base, st.pid);
    if (prev != nullptr && prev->start_time == st.start_time) {
        proc->cpu_percent = process_cpu_percent(proc->cpu_time, prev->cpu_time, c.elapsed);
        if (kept->has_io && prev->has_io) {
            proc->read_bytes_sec = counter_rate(kept->read_bytes, prev->read_bytes, c.elapsed);
            proc->write_bytes_sec = counter_rate(kept->write_bytes, prev->write_bytes, c.elapsed);
        }
    }
    return true;
}

bool all_digits(const char *name, size_t *len) {
    size_t n = 0;
    for (; name[n] != '\0'; ++n)
        if (name[n] < '0' || name[n] > '9') return false;
    *len = n;
    return n > 0 && n < 12;
}

}  // namespace

int32_t sysmon_collect_processes(record_list<sysmon_proc_info> *procs, const sysmon_window *window,
                                 uint64_t memory_total) {
    if (procs == nullptr) return -1;
    procs->count = 0;
    static used_records used;  // the records the previous collection filled
    used_records_clear(&used, procs->items, procs->capacity);

    const int proc_fd =
        open(linux_sources_current().proc_root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc_fd < 0) return -1;

    const bool advance = window == nullptr || window->advance != 0;
    static long hz = sysconf(_SC_CLK_TCK);
    static long page_size = sysconf(_SC_PAGESIZE);
    collection c{};
    c.proc_fd = proc_fd;
    c.hz = hz > 0 ? static_cast<uint64_t>(hz) : 100;
    c.page_size = page_size > 0 ? static_cast<uint64_t>(page_size) : 4096;
    c.memory_total = memory_total;
    c.elapsed = window != nullptr ? window->elapsed_sec : 0.0;
    c.base = &s_baselines.against(window);
    c.newest = &s_baselines.slots[s_baselines.newest];
    c.store = advance ? &s_baselines.next() : &s_discard;
    record_list<proc_counters_entry> &store = c.store->entries;
    store.count = 0;
    c.store->texts.count = 0;

    int32_t filled = 0;
    bool sorted = true;
    bool full = false;  // growth failed: the list ends with what fits
    while (!full) {
        const long n = syscall(SYS_getdents64, proc_fd, s_dirents, sizeof s_dirents);
        if (n <= 0) break;
        for (long offset = 0; offset < n;) {
            const linux_dirent64 *d = reinterpret_cast<const linux_dirent64 *>(s_dirents + offset);
            offset += d->d_reclen;
            size_t len = 0;
            if (!all_digits(d->d_name, &len)) continue;
            if (!record_list_reserve(procs, filled + 1) || !record_list_reserve(&store, filled + 1)) {
                full = true;
                break;
            }
            proc_counters_entry &kept = store.items[store.count];
            if (!read_process(c, d->d_name, len, &procs->items[filled], &kept)) continue;
            if (store.count > 0 && store.items[store.count - 1].pid >= kept.pid) sorted = false;
            ++store.count;
            ++filled;
        }
    }
    closing_batch_flush(&s_closing);
    close(proc_fd);
    procs->count = filled;
    used_records_note(&used, filled);
    // The proc root lists pids in ascending order; a tree that does not gets
    // its table sorted, so that look-ups stay binary searches.
    if (!sorted) std::sort(store.items, store.items + store.count, entry_less);
    if (advance) s_baselines.commit(window);
    return 0;
}
