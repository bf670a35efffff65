// Internal model of the library: metric records, capacities, the collector
// contract that platform code implements, and the statics shared by the
// platform-neutral core. Nothing here is visible outside the library.
#ifndef VANTOREL_SYSMON_INTERNAL_H
#define VANTOREL_SYSMON_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "rate_window.h"
#include "record_list.h"
#include "strbuf.h"

// Initial sizes of the record lists, which grow with what a collection finds
// (record_list.h).
#define SYSMON_MAX_DISKS 128
#define SYSMON_MAX_NETS 64
#define SYSMON_MAX_PROCS 2048
#define SYSMON_MAX_CORES 512  // logical processors, and their history rings
#define SYSMON_MAX_GPUS 16
#define SYSMON_HISTORY_LEN 300
#define SYSMON_HISTORY_METRICS 8
#define SYSMON_SNAPSHOT_TOP_PROCS 50
#define SYSMON_TREE_MAX_DEPTH 64
#define SYSMON_ERROR_LEN 512
#define SYSMON_FILTER_LEN 128

// ---- Metric records --------------------------------------------------------
// Plain data, copyable byte for byte. Text fields are NUL-terminated and cut
// to their size minus one. Field names match the JSON member names.

struct sysmon_cpu_info {
    char name[128];
    int32_t cores;
    int32_t threads;
    double total_usage;
    double frequency_mhz;
    double temperature_c;
    // Processor time since boot of all processors together, in seconds.
    // Never lower than an earlier reading.
    double busy_seconds;
    double idle_seconds;
    double limit_cpus;  // processors the process may use (cgroup, job object); 0: no limit
};

// One logical processor, listed beside the cpu record: its entries make the
// cpu document's arrays per_core, per_core_busy_seconds and
// per_core_idle_seconds, in processor order.
struct sysmon_core_info {
    double usage;         // load over the window, percent
    double busy_seconds;  // processor time since boot; never lower than an earlier reading
    double idle_seconds;
};

struct sysmon_mem_info {
    uint64_t total;
    uint64_t used;
    uint64_t available;
    uint64_t cached;
    uint64_t swap_total;
    uint64_t swap_used;
    uint64_t limit;       // the process's memory limit (cgroup, job object); 0: none
    uint64_t limit_used;  // what counts against it; 0 without a limit
};

struct sysmon_disk_info {
    char name[64];
    char mount[256];
    char fs[32];
    uint64_t total;
    uint64_t used;
    uint64_t free;
    uint64_t read_bytes_sec;
    uint64_t write_bytes_sec;
    uint64_t total_read;     // bytes read since boot
    uint64_t total_written;  // bytes written since boot
    uint64_t available;      // bytes the calling user can still write
};

struct sysmon_net_info {
    char name[64];
    char ip[64];
    uint64_t up_bytes_sec;
    uint64_t down_bytes_sec;
    uint64_t total_sent;
    uint64_t total_recv;
};

struct sysmon_proc_info {
    int32_t pid;
    int32_t ppid;
    char name[128];
    char command[1024];
    char user[64];
    char status[32];
    double cpu_percent;
    uint64_t memory_bytes;
    double memory_percent;
    int32_t threads;
    uint64_t read_bytes_sec;
    uint64_t write_bytes_sec;
    uint64_t user_time;
    uint64_t kernel_time;
    uint64_t cpu_time;
};

struct sysmon_gpu_info {
    char name[128];
    double usage_percent;
    uint64_t vram_total;
    uint64_t vram_used;
    double temperature_c;
    char driver[64];
    double power_watts;
    char source[16];  // "nvml", "amdgpu", "i915", "xe", "dxgi"; "none" for the placeholder
    char bus_id[32];  // PCI address "0000:65:00.0"; "" where the source does not know it
};

struct sysmon_battery_info {
    int32_t present;
    int32_t percent;
    char status[32];
    int32_t time_remaining_min;
    double power_draw_watts;
    int32_t health_percent;
};

struct sysmon_system_info {
    char hostname[128];
    char os[128];
    char kernel[128];
    uint64_t uptime_seconds;
    char boot_time[32];
    char cpu_arch[32];
};

// ---- Collector contract ----------------------------------------------------
// Implemented once per platform (and by the fakes of the unit tests). Called
// only with the global lock held. Each clears its record (or its list's
// entries) before filling it, and returns -1 for a null pointer (or an
// enumeration that cannot start), else 0. Nobody looks at the result.
//
// A list collector sets the list's count to the entries it found, growing
// the list (record_list_reserve) when it holds fewer; where growth fails it
// lists the entries that fit, each of them whole.
//
// Collectors that derive figures from counter growth take the window the core
// planned for them (rate_window.h): they derive against the baseline it names
// over its elapsed seconds, and keep the new counters as their newest
// baseline only when it says so. A counter that went down gives 0.

// The processor record, and one entry per logical processor in `cores`.
int32_t sysmon_collect_cpu(sysmon_cpu_info *cpu, record_list<sysmon_core_info> *cores,
                           const sysmon_window *window);
int32_t sysmon_collect_mem(sysmon_mem_info *mem);
int32_t sysmon_collect_disks(record_list<sysmon_disk_info> *disks, const sysmon_window *window);
int32_t sysmon_collect_network(record_list<sysmon_net_info> *nets, const sysmon_window *window);
int32_t sysmon_collect_processes(record_list<sysmon_proc_info> *procs,
                                 const sysmon_window *window, uint64_t memory_total);
// The GPU adapters found, primary first, in an order that stays the same
// from one collection to the next; energy counters grow over the window.
int32_t sysmon_collect_gpu(sysmon_gpu_info *gpus, int32_t *count, int32_t capacity,
                           const sysmon_window *window);
int32_t sysmon_collect_battery(sysmon_battery_info *bat);
int32_t sysmon_collect_system(sysmon_system_info *sys);

// Platform resources kept from one collection to the next (vendor libraries
// and their handles): acquired by each initialisation before its first
// collection and released by clean-up, both with the global lock held.
void sysmon_platform_init();
void sysmon_platform_shutdown();

// Process termination, the one platform operation outside the collectors.
enum sysmon_terminate_result {
    SYSMON_TERMINATE_OK = 0,
    SYSMON_TERMINATE_OPEN_FAILED = 1,    // process could not be opened (Windows)
    SYSMON_TERMINATE_REFUSED = 2,        // opened, but termination refused (Windows)
    SYSMON_TERMINATE_SIGNAL_FAILED = 3,  // the kill signal could not be sent (POSIX)
};
// Asks the platform to end process `pid` (> 0) forcefully, with exit code 1
// where the platform has one. On failure `*error_code` receives the
// platform's numeric error code (GetLastError, errno).
sysmon_terminate_result sysmon_platform_terminate(int32_t pid,
                                                  unsigned long *error_code);
// The system's text for an error code of a failed termination, NUL-terminated
// within `size` bytes; "" where the platform has none. Thread-safe.
void sysmon_platform_error_text(unsigned long error_code, char *out, size_t size);

// The code sysmon_platform() reports for this build: 1 Windows, 2 Linux.
int32_t sysmon_platform_code();

// ---- Shared statics (defined in sysmon.cpp) --------------------------------
// All guarded by the global lock.

extern sysmon_cpu_info s_cpu;
extern record_list<sysmon_core_info> s_cores;
extern sysmon_mem_info s_mem;
extern record_list<sysmon_disk_info> s_disks;
extern record_list<sysmon_net_info> s_nets;
extern record_list<sysmon_proc_info> s_procs;
extern sysmon_gpu_info s_gpu;  // the primary adapter, or the placeholder
extern sysmon_gpu_info s_gpus[SYSMON_MAX_GPUS];
extern int32_t s_gpus_count;
extern sysmon_battery_info s_bat;
extern sysmon_system_info s_sys;

// Response buffers, one per reading (defined in sysmon.cpp).
extern strbuf s_buf_snapshot;
extern strbuf s_buf_cpu;
extern strbuf s_buf_mem;
extern strbuf s_buf_disks;
extern strbuf s_buf_nets;
extern strbuf s_buf_procs;
extern strbuf s_buf_tree;
extern strbuf s_buf_gpu;
extern strbuf s_buf_sys;
extern strbuf s_buf_bat;
extern strbuf s_buf_history;
extern strbuf s_buf_core_history;

// ---- Core operations shared between the core's source files ----------------

// Formats a message into the error slot (at most 511 characters). Safe to call
// without the global lock.
void sysmon_set_error(const char *fmt, ...) SYSMON_PRINTF(1, 2);

#endif  // VANTOREL_SYSMON_INTERNAL_H
