// Derivations of the platform collectors: everything that turns the plain
// answers of the operating system (counters, rows, readings) into metric
// records. The platform code only asks the system and passes the values on;
// differences, clamps, rates, filters, list walks and name tables live here,
// so they build and are tested on any platform.
//
// Every function is called with the global lock held, like the collectors
// that use it. Capacities below 0 behave as 0. Texts are UTF-8 and are cut
// to their fields at character boundaries.
#ifndef VANTOREL_DERIVE_H
#define VANTOREL_DERIVE_H

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "counter_table.h"
#include "sysmon_internal.h"
#include "used_records.h"

// ---- Processor -------------------------------------------------------------

// Size of the buffer the processor model name is converted into (UTF-8 of
// a 128-unit registry value).
#define SYSMON_CPU_NAME_BUFFER_SIZE 512

// Cumulative times of one processor, or of all together: idle, kernel
// (idle included) and user, in one common unit.
struct idle_kernel_user_times {
    uint64_t idle;
    uint64_t kernel;
    uint64_t user;
};

struct cpu_readings {
    uint32_t logical_processors;  // number of logical processors
    uint32_t physical_cores;      // 0 when unknown
    int32_t has_name;             // 1 when the model name was read
    char name[SYSMON_CPU_NAME_BUFFER_SIZE];  // UTF-8, not necessarily terminated
    int32_t has_frequency;        // 1 when the nominal frequency was read
    uint32_t frequency_mhz;
    int32_t has_times;            // 1 when the whole-machine times were read
    idle_kernel_user_times times;
    int32_t core_count;           // processors whose times were read, 0 to 512
    const idle_kernel_user_times *cores;       // their times, processor 0 first
};

// The counters a load is derived against, kept between collections.
struct cpu_counters {
    int32_t has_times;
    idle_kernel_user_times times;
    int32_t core_count;
    idle_kernel_user_times cores[SYSMON_MAX_CORES];
};

// Load in percent from the growth of the three counters since the previous
// reading. A counter that went down counts as no growth; no busy time, or
// more idle than busy-plus-idle time, gives 0.
double derive_cpu_load(uint64_t prev_idle, uint64_t prev_kernel,
                       uint64_t prev_user, uint64_t idle, uint64_t kernel,
                       uint64_t user);

// Fills the whole record from the readings: the total load against
// `prev`'s whole-machine times, per_core[i] against `prev`'s times of
// processor i (0 where either reading of it is missing). `next` receives
// `prev` with every counter that was read replaced by the new reading.
// `next` may be `prev`.
void derive_cpu(sysmon_cpu_info *cpu, const cpu_readings *readings,
                const cpu_counters *prev, cpu_counters *next);

// Number of processor-core records (relationship 0) in a block of
// variable-size processor relationship records (relationship at byte 0,
// record size at byte 4), read only within `size` bytes; a record whose
// size is too small to hold these two fields, or runs past the block, ends
// the walk.
uint32_t derive_cpu_core_records(const void *block, size_t size);

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

// Number of UTF-16 units the volume root path list is read into, the
// length passed to the system so that its last unit always stays NUL, and
// the size of its UTF-8 conversion.
#define SYSMON_DISK_ROOT_LIST_UNITS 512
#define SYSMON_DISK_ROOT_LIST_QUERY_LENGTH 511
#define SYSMON_DISK_ROOT_LIST_SIZE (3 * SYSMON_DISK_ROOT_LIST_UNITS + 1)
// Number of UTF-16 units the file-system name is read into, and the size of
// its UTF-8 conversion.
#define SYSMON_DISK_FS_NAME_UNITS 32
#define SYSMON_DISK_FS_NAME_SIZE (3 * SYSMON_DISK_FS_NAME_UNITS + 1)

// Transfer counters of the volumes listed by a collection, by the key of
// their root path. Values: bytes read, bytes written.
#define SYSMON_DISK_TABLE_SLOTS 256
typedef counter_table<SYSMON_DISK_TABLE_SLOTS> disk_table;

// Byte counters of one volume, when the system answered for it.
struct disk_io {
    int32_t has_counters;
    uint64_t bytes_read;
    uint64_t bytes_written;
};

// Walk over a list of volume root paths: NUL-terminated texts one after the
// other, the list ended by an empty text.
struct disk_walk {
    sysmon_disk_info *disks;
    int32_t capacity;
    int32_t filled;
    const char *list;
    size_t list_size;
    size_t offset;
    const disk_table *prev;  // counters the rates derive against
    disk_table *next;        // receives the new counters
    double elapsed_sec;
    used_records *used;      // null: none kept
};

// Sets the count to 0, clears the array up to the capacity and starts a walk
// over `list` (`list_size` bytes, read only within them). `next` is
// emptied; it must not be `prev`. With `used`, the collector's note of the
// entries the previous collection filled, only those are cleared (the rest
// is zero already) and the note follows the entries filled.
void derive_disk_walk_begin(disk_walk *walk, sysmon_disk_info *disks,
                            int32_t *count, int32_t capacity, const char *list,
                            size_t list_size, const disk_table *prev,
                            disk_table *next, double elapsed_sec,
                            used_records *used = nullptr);
// The next root path to examine, or null when the list has ended or the
// capacity is reached.
const char *derive_disk_walk_next(disk_walk *walk);
// Whether a drive type is listed: removable (2) and fixed (3) only.
int32_t derive_disk_type_accepted(uint32_t drive_type);
// Fills the next entry for an accepted volume whose space figures were read.
// `fs_name` is the file-system name (UTF-8, read within
// SYSMON_DISK_FS_NAME_SIZE bytes), or null when it could not be read. The
// transfer rates derive from `io` against the previous counters of the same
// root; 0 where either reading is missing.
void derive_disk_walk_add(disk_walk *walk, const char *root,
                          uint64_t total_bytes, uint64_t total_free_bytes,
                          const char *fs_name, const disk_io *io);
// Stores the number of entries filled in the count.
void derive_disk_walk_end(const disk_walk *walk, int32_t *count);

// ---- Network ---------------------------------------------------------------

#define SYSMON_NET_TYPE_SOFTWARE_LOOPBACK 24
#define SYSMON_NET_OPER_STATUS_UP 1
// Size of the buffer an interface description is converted into (UTF-8 of
// 257 units at most).
#define SYSMON_NET_NAME_BUFFER_SIZE (3 * 257 + 1)

// Counters of the interfaces listed by a collection, by interface LUID.
// Values: bytes sent, bytes received.
#define SYSMON_NET_TABLE_SLOTS 128
typedef counter_table<SYSMON_NET_TABLE_SLOTS> net_table;

// The first IPv4 unicast address of each interface, by interface LUID.
// Value 0: the four bytes of the address, first byte lowest.
#define SYSMON_NET_ADDRESS_SLOTS 512
typedef counter_table<SYSMON_NET_ADDRESS_SLOTS> net_address_table;

// One row of the platform's interface table.
struct net_row {
    uint64_t luid;
    uint32_t type;
    uint32_t oper_status;
    uint64_t in_octets;
    uint64_t out_octets;
    const char *name;  // description, UTF-8, not necessarily terminated
    size_t name_size;  // size of the array that holds it
};

struct net_walk {
    sysmon_net_info *nets;
    int32_t capacity;
    int32_t filled;
    const net_table *prev;              // counters the rates derive against
    net_table *next;                    // receives the new counters
    const net_address_table *addresses; // null: no addresses known
    double elapsed_sec;
    used_records *used;                 // null: none kept
};

// Sets the count to 0 and clears the array up to the capacity; with `used`,
// only the entries the previous collection filled (the rest is zero).
void derive_net_clear(sysmon_net_info *nets, int32_t *count, int32_t capacity,
                      used_records *used = nullptr);
// Starts a walk; `next` is emptied (it must not be `prev`). `used`, when
// given, follows the entries filled.
void derive_net_walk_begin(net_walk *walk, sysmon_net_info *nets,
                           int32_t capacity, const net_table *prev,
                           net_table *next, const net_address_table *addresses,
                           double elapsed_sec, used_records *used = nullptr);
// Whether the capacity is reached: no further row is to be examined.
int32_t derive_net_walk_full(const net_walk *walk);
// Whether a row is listed: never a loopback; an interface that is up, or
// one that has counted traffic either way.
int32_t derive_net_row_accepted(const net_row *row);
// Examines one row: lists it as the next entry when it is accepted and the
// capacity allows, with its address, counters, and rates against the
// previous counters of the same LUID; its counters go into the new table.
void derive_net_walk_row(net_walk *walk, const net_row *row);
// Stores the count.
void derive_net_walk_end(const net_walk *walk, int32_t *count);
// Remembers the first IPv4 address seen for an interface.
void derive_net_add_address(net_address_table *addresses, uint64_t luid,
                            const uint8_t address[4]);
// Dotted-quad text of four address bytes.
void derive_ipv4_text(char *out, size_t size, const uint8_t address[4]);

// ---- Processes -------------------------------------------------------------

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
// The record the process at hand goes to, its identity filled in (see
// derive_proc_fill_identity) and its figures zero; null when the capacity is
// reached and reading is to stop.
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
// (at most 100) and the byte rates derive against the counters the
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

// ---- System ----------------------------------------------------------------

#define SYSMON_SYSTEM_HOSTNAME_BUFFER_SIZE 512

#define SYSMON_ARCH_CODE_INTEL 0
#define SYSMON_ARCH_CODE_AMD64 9
#define SYSMON_ARCH_CODE_ARM64 12

struct system_readings {
    int32_t has_hostname;
    char hostname[SYSMON_SYSTEM_HOSTNAME_BUFFER_SIZE];  // UTF-8, not necessarily terminated
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
