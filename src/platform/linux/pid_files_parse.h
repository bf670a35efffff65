// The files of one process under /proc/PID: stat, status, io and cmdline,
// and the texts derived from them (name, command, status word).
#ifndef VANTOREL_LINUX_PID_FILES_PARSE_H
#define VANTOREL_LINUX_PID_FILES_PARSE_H

#include <cstddef>
#include <cstdint>

// What /proc/PID/stat tells.
struct pid_stat {
    int32_t pid;
    char comm[64];        // the task name as the kernel holds it (raw bytes, NUL-terminated)
    size_t comm_len;
    char state;           // state letter
    int32_t ppid;
    uint64_t utime;       // clock ticks
    uint64_t stime;       // clock ticks
    int32_t num_threads;
    uint64_t start_time;  // clock ticks after boot
    uint64_t rss_pages;
};

// Parses the text of /proc/PID/stat. The name is everything between the
// first "(" and the last ")", so a name holding spaces or parentheses cannot
// shift the fields. False when the text is cut before the thread count.
bool parse_pid_stat(const char *text, size_t len, pid_stat *out);

// The real user id of the "Uid:" line of /proc/PID/status.
bool parse_status_real_uid(const char *text, size_t len, uint32_t *uid);

// read_bytes and write_bytes of /proc/PID/io; false unless both are there.
bool parse_pid_io(const char *text, size_t len, uint64_t *read_bytes, uint64_t *write_bytes);

// What /proc/PID/schedstat tells of a task: the time it spent running on a
// processor (ns) and the number of times it was put on one.
struct pid_schedstat {
    uint64_t run_ns;
    uint64_t timeslices;
};

// Parses "<run ns> <wait ns> <timeslices>\n"; false unless all three numbers
// are there, separated by blanks.
bool parse_pid_schedstat(const char *text, size_t len, pid_schedstat *out);

// The word for a state letter: R "running", S "sleeping", D "disk-sleep",
// T "stopped", t "tracing-stop", Z "zombie", X "dead", I "idle", P "parked",
// W "waking", K "wake-kill", anything else "unknown".
const char *pid_state_word(char state);

// The command text and the display name of a process, as valid UTF-8 in
// fields of `command_size` and `name_size` bytes.
//  - command: the arguments of `cmdline` (NUL-separated, `cmdline_len`
//    bytes) joined by single spaces; for an empty command line the task
//    name in brackets, "[kthreadd]".
//  - name: the task name; when it is 15 bytes long (the kernel's cut) and
//    the base name of the first argument starts with it, that base name.
void pid_command_and_name(const char *comm, size_t comm_len, const char *cmdline,
                          size_t cmdline_len, char *command, size_t command_size, char *name,
                          size_t name_size);

#endif  // VANTOREL_LINUX_PID_FILES_PARSE_H
