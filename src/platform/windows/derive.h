// Derivations of the platform collectors: everything that turns the plain
// answers of the operating system (counters, rows, readings) into metric
// records. The platform code only asks the system and passes the values on;
// differences, clamps, rates, filters, list walks and name tables live here,
// so they build and are tested on any platform.
//
// Every function is called with the global lock held, like the collectors
// that use it. Capacities below 0 behave as 0.
#ifndef VANTOREL_DERIVE_H
#define VANTOREL_DERIVE_H

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "sysmon_internal.h"

// ---- Processor -------------------------------------------------------------

// Size of the buffer the processor model name is read into.
#define SYSMON_CPU_NAME_BUFFER_SIZE 128

struct cpu_readings {
    uint32_t logical_processors;  // number of logical processors
    int32_t has_name;             // 1 when the model name was read
    char name[SYSMON_CPU_NAME_BUFFER_SIZE];  // not necessarily NUL-terminated
    int32_t has_frequency;        // 1 when the nominal frequency was read
    uint32_t frequency_mhz;
    int32_t has_times;            // 1 when the three time counters were read
    uint64_t idle_time;           // cumulative, all processors
    uint64_t kernel_time;         // cumulative, idle time included
    uint64_t user_time;           // cumulative
};

// Load in percent from the growth of the three counters since the previous
// reading. A counter that went down counts as no growth; no busy time, or
// more idle than busy-plus-idle time, gives 0.
double derive_cpu_load(uint64_t prev_idle, uint64_t prev_kernel,
                       uint64_t prev_user, uint64_t idle, uint64_t kernel,
                       uint64_t user);

// Fills the whole record from the readings. When the times were read, the
// load is derived against the stored counters (if any) and the new counters
// replace them; otherwise the stored counters stay as they are.
void derive_cpu(sysmon_cpu_info *cpu, const cpu_readings *readings,
                int32_t *has_prev, uint64_t *prev_idle, uint64_t *prev_kernel,
                uint64_t *prev_user);

// ---- Memory ----------------------------------------------------------------

struct mem_readings {
    int32_t has_status;  // 1 when the memory status was read
    uint64_t total_phys;
    uint64_t avail_phys;
    uint64_t total_page_file;
    uint64_t avail_page_file;
};

void derive_mem(sysmon_mem_info *mem, const mem_readings *readings);

// ---- Disks -----------------------------------------------------------------

// Size of the buffer the volume root paths are read into, and the length
// passed to the system so that its last byte always stays NUL.
#define SYSMON_DISK_ROOT_LIST_SIZE 512
#define SYSMON_DISK_ROOT_LIST_QUERY_LENGTH 511
// Size of the buffer the file-system name is read into.
#define SYSMON_DISK_FS_NAME_SIZE 32

// Walk over a list of volume root paths: NUL-terminated texts one after the
// other, the list ended by an empty text.
struct disk_walk {
    sysmon_disk_info *disks;
    int32_t capacity;
    int32_t filled;
    const char *list;
    size_t list_size;
    size_t offset;
};

// Sets the count to 0, clears the array up to the capacity and starts a walk
// over `list` (`list_size` bytes, read only within them).
void derive_disk_walk_begin(disk_walk *walk, sysmon_disk_info *disks,
                            int32_t *count, int32_t capacity, const char *list,
                            size_t list_size);
// The next root path to examine, or null when the list has ended or the
// capacity is reached.
const char *derive_disk_walk_next(disk_walk *walk);
// Whether a drive type is listed: removable (2) and fixed (3) only.
int32_t derive_disk_type_accepted(uint32_t drive_type);
// Fills the next entry for an accepted volume whose space figures were read.
// `fs_name` is the file-system name (read within SYSMON_DISK_FS_NAME_SIZE bytes), or
// null when it could not be read.
void derive_disk_walk_add(disk_walk *walk, const char *root,
                          uint64_t total_bytes, uint64_t total_free_bytes,
                          const char *fs_name);
// Stores the number of entries filled in the count.
void derive_disk_walk_end(const disk_walk *walk, int32_t *count);

// ---- Network ---------------------------------------------------------------

#define SYSMON_NET_TYPE_SOFTWARE_LOOPBACK 24
#define SYSMON_NET_OPER_STATUS_OPERATIONAL 5

// Counters of one interface listed by the previous collection.
struct prev_net_entry {
    char name[64];
    uint64_t total_sent;
    uint64_t total_recv;
};

// One row of the platform's interface table.
struct net_row {
    uint32_t type;
    uint32_t oper_status;
    uint32_t in_octets;
    uint32_t out_octets;
    uint32_t descr_len;      // claimed length of the description
    const char *descr;       // description bytes, not necessarily terminated
    size_t descr_size;       // size of the array that holds them
};

struct net_walk {
    sysmon_net_info *nets;
    int32_t capacity;
    int32_t filled;
    const prev_net_entry *prev;  // previous collection's counters
    int32_t prev_count;
    double elapsed_sec;
};

// Sets the count to 0 and clears the array up to the capacity.
void derive_net_clear(sysmon_net_info *nets, int32_t *count, int32_t capacity);
// Starts a walk that compares every entry with the previous table as it
// stands now.
void derive_net_walk_begin(net_walk *walk, sysmon_net_info *nets,
                           int32_t capacity, const prev_net_entry *prev,
                           int32_t prev_count, double elapsed_sec);
// Whether the capacity is reached: no further row is to be examined.
int32_t derive_net_walk_full(const net_walk *walk);
// Whether a row is listed: never a loopback; an operational interface, or
// one that has counted traffic either way.
int32_t derive_net_row_accepted(const net_row *row);
// Fills one entry from a row: description, address, counters, and the rates
// against the first previous entry of the same name.
void derive_net_fill(sysmon_net_info *entry, const net_row *row,
                     const prev_net_entry *prev, int32_t prev_count,
                     double elapsed_sec);
// Examines one row: lists it as the next entry when it is accepted and the
// capacity allows.
void derive_net_walk_row(net_walk *walk, const net_row *row);
// Stores the count and rebuilds the previous table from the entries filled.
void derive_net_walk_end(const net_walk *walk, int32_t *count,
                         prev_net_entry *prev, int32_t *prev_count);
// The previous table becomes the names and counters of the first
// min(count, SYSMON_MAX_NETS) entries.
void derive_net_rebuild_prev(prev_net_entry *prev, int32_t *prev_count,
                             const sysmon_net_info *nets, int32_t count);

// ---- Processes -------------------------------------------------------------

// Accumulated processor time of one process listed by the previous
// collection.
struct prev_proc_entry {
    int32_t pid;
    uint64_t cpu_time;
};

// One entry of the platform's process snapshot.
struct proc_entry {
    uint32_t pid;
    uint32_t ppid;
    uint32_t threads;
    const char *exe_name;    // not necessarily terminated
    size_t exe_name_size;    // size of the array that holds it
};

struct proc_walk {
    sysmon_proc_info *procs;
    int32_t capacity;
    int32_t filled;
};

// Sets the count to 0, clears the array up to the capacity and starts a walk.
void derive_proc_walk_begin(proc_walk *walk, sysmon_proc_info *procs,
                            int32_t *count, int32_t capacity);
// The record the entry at hand goes to, or null when the capacity is reached
// and reading is to stop.
sysmon_proc_info *derive_proc_walk_next(proc_walk *walk);
// Fills the identity fields of a record. Returns 1 when the process may be
// opened to read its figures, 0 for the idle process (pid 0).
int32_t derive_proc_fill_identity(sysmon_proc_info *proc,
                                  const proc_entry *entry);
// Working set and its share of the memory total (no share when the total
// is 0).
void derive_proc_apply_memory(sysmon_proc_info *proc, uint64_t working_set,
                              uint64_t memory_total);
// Processor times and the share of one processor since the previous
// collection, at most 100.
void derive_proc_apply_times(sysmon_proc_info *proc, uint64_t kernel_time,
                             uint64_t user_time, const prev_proc_entry *prev,
                             int32_t prev_count, double elapsed_sec);
// Stores the count and rebuilds the previous table from the records filled.
void derive_proc_walk_end(const proc_walk *walk, int32_t *count,
                          prev_proc_entry *prev, int32_t *prev_count);
// The previous table becomes the pid and processor time of the first
// min(count, SYSMON_MAX_PROCS) records (none for a count of 0).
void derive_proc_rebuild_prev(prev_proc_entry *prev, int32_t *prev_count,
                              const sysmon_proc_info *procs, int32_t count);

// ---- System ----------------------------------------------------------------

#define SYSMON_SYSTEM_HOSTNAME_BUFFER_SIZE 128

#define SYSMON_ARCH_CODE_INTEL 0
#define SYSMON_ARCH_CODE_AMD64 9
#define SYSMON_ARCH_CODE_ARM64 12

struct system_readings {
    int32_t has_hostname;
    char hostname[SYSMON_SYSTEM_HOSTNAME_BUFFER_SIZE];  // not necessarily terminated
    int32_t has_version;
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    uint64_t uptime_ms;
    const struct tm *boot_utc;  // boot instant in UTC, null when unconverted
    uint32_t arch_code;
};

// Product name of a version triple: "Windows 11", "Windows 10", ... or
// "Windows".
const char *derive_os_name(uint32_t major, uint32_t minor, uint32_t build);
// "x86_64", "aarch64", "x86" or "unknown".
const char *derive_arch_name(uint32_t arch_code);
uint64_t derive_uptime_seconds(uint64_t uptime_ms);
// Seconds since 1970 UTC of the boot: now minus the uptime.
int64_t derive_boot_instant(int64_t now, uint64_t uptime_seconds);
// "%Y-%m-%dT%H:%M:%SZ" of a broken-down UTC time into `out`, or
// "1970-01-01T00:00:00Z" when it is missing or cannot be written.
void derive_boot_time_text(char *out, size_t size, const struct tm *utc);
void derive_system(sysmon_system_info *sys, const system_readings *readings);

// ---- GPU and battery -------------------------------------------------------

// The placeholder record: no GPU figures are read.
void derive_gpu(sysmon_gpu_info *gpu);

#define SYSMON_BATTERY_FLAG_NO_BATTERY 128
#define SYSMON_BATTERY_FLAG_UNKNOWN 255
#define SYSMON_BATTERY_LIFE_TIME_UNKNOWN 0xFFFFFFFFu
#define SYSMON_BATTERY_AC_ONLINE 1

struct battery_readings {
    int32_t has_status;  // 1 when the power status was read
    uint8_t ac_line_status;
    uint8_t battery_flag;
    uint8_t battery_life_percent;
    uint32_t battery_life_time;  // seconds
};

void derive_battery(sysmon_battery_info *bat, const battery_readings *readings);

#endif  // VANTOREL_DERIVE_H
