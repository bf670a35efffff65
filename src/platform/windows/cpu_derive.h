// Processor derivations of the Windows collector: the load of every
// processor and of the whole machine from the growth of their idle, kernel
// and user times, the model name, and the count of physical cores in the
// system's processor relationship records.
//
// Called with the global lock held, like the collector that uses it.
#ifndef VANTOREL_WINDOWS_CPU_DERIVE_H
#define VANTOREL_WINDOWS_CPU_DERIVE_H

#include <cstddef>
#include <cstdint>

#include "sysmon_internal.h"

// Size of the buffer the processor model name is converted into (UTF-8 of
// a 128-unit registry value).
#define SYSMON_CPU_NAME_BUFFER_SIZE 512

// Cumulative times of one processor, or of all together: idle, kernel
// (idle included) and user, in 100-nanosecond units.
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
    int32_t core_count;           // processors whose times were read
    const idle_kernel_user_times *cores;       // their times, processor 0 first
};

// The counters a load is derived against, kept between collections. The
// processors' list grows with them; one that cannot grow keeps those that
// fit, and the others read 0 once, as after a failed query.
struct cpu_counters {
    int32_t has_times;
    idle_kernel_user_times times;
    record_list<idle_kernel_user_times> cores;
};

// Load in percent from the growth of the three counters since the previous
// reading. A counter that went down counts as no growth; no busy time, or
// more idle than busy-plus-idle time, gives 0.
double derive_cpu_load(uint64_t prev_idle, uint64_t prev_kernel,
                       uint64_t prev_user, uint64_t idle, uint64_t kernel,
                       uint64_t user);

// Busy (kernel + user - idle) and idle time of one triple, in seconds.
void cpu_times_seconds(const idle_kernel_user_times &t, double *busy, double *idle);

// Fills the whole record from the readings: the cumulative busy and idle
// seconds of the machine, the total load against `prev`'s whole-machine
// times, and one entry in `processors_listed` per processor whose times
// were read (as many as the list can grow to hold): its cumulative seconds
// and its load against `prev`'s times of that processor (0 where `prev` has
// none).
// `next` receives `prev` with every counter that was read replaced by the
// new reading. `next` may be `prev`.
void derive_cpu(sysmon_cpu_info *cpu, record_list<sysmon_core_info> *processors_listed,
                const cpu_readings *readings, const cpu_counters *prev, cpu_counters *next);

// Copies the counters of `from` into `to`, whose list grows to hold them
// (keeping those that fit when it cannot).
void cpu_counters_copy(cpu_counters *to, const cpu_counters *from);

// Number of processor-core records (relationship 0) in a block of
// variable-size processor relationship records (relationship at byte 0,
// record size at byte 4), read only within `size` bytes; a record whose
// size is too small to hold these two fields, or runs past the block, ends
// the walk.
uint32_t derive_cpu_core_records(const void *block, size_t size);

#endif  // VANTOREL_WINDOWS_CPU_DERIVE_H
