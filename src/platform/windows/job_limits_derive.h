// Limits of the job objects the calling process belongs to, derived from
// what each job reports: the memory limit that applies to the process with
// what counts against it, and the processors a CPU rate cap leaves it.
#ifndef VANTOREL_WINDOWS_JOB_LIMITS_DERIVE_H
#define VANTOREL_WINDOWS_JOB_LIMITS_DERIVE_H

#include <cstdint>

// Limit flags of a job (LimitFlags of its extended limit information).
#define SYSMON_JOB_LIMIT_PROCESS_MEMORY 0x100u
#define SYSMON_JOB_LIMIT_JOB_MEMORY 0x200u
// Control flags of a job's CPU rate control.
#define SYSMON_JOB_CPU_RATE_ENABLE 0x1u
#define SYSMON_JOB_CPU_RATE_WEIGHT_BASED 0x2u
#define SYSMON_JOB_CPU_RATE_HARD_CAP 0x4u
#define SYSMON_JOB_CPU_RATE_MIN_MAX_RATE 0x10u
// A rate of the whole machine's processor cycles, in 1/100 of a percent.
#define SYSMON_JOB_CPU_RATE_WHOLE 10000u

// What one job object reports; each group only when its flag is set.
struct job_reading {
    int32_t has_limits;  // extended limit information read
    uint32_t limit_flags;
    uint64_t process_memory_limit;  // bytes each process may commit
    uint64_t job_memory_limit;      // bytes the job's processes may commit together
    int32_t has_job_memory_used;
    uint64_t job_memory_used;  // bytes the job's processes commit now
    int32_t has_cpu_rate;      // CPU rate control information read
    uint32_t cpu_control_flags;
    uint32_t cpu_rate;  // CpuRate; with MIN_MAX_RATE MinRate in the low and MaxRate in the high 16 bits
};

struct job_limits {
    uint64_t memory_limit;  // bytes; 0: none
    uint64_t memory_used;   // bytes counted against it; 0 without a limit or when unknown
    double cpus;            // processors; 0: none
};

// The limits that apply to the calling process from the jobs it belongs
// to, innermost first (any order gives the same result): the lowest memory
// limit of any job, a process limit or a job limit, with what counts
// against that one (the process's own commit, `process_private` when
// `has_process_private`, or the job's commit); the lowest CPU cap as
// processors (a hard-capped CpuRate or a MaxRate, over 10 000, times
// `logical_processors`). A weight or a rate that is not a hard cap is no
// limit, and neither is a cap of the whole machine. Everything 0 when no
// job limits the process.
job_limits derive_job_limits(const job_reading *jobs, int32_t count, int32_t has_process_private,
                             uint64_t process_private, uint32_t logical_processors);

#endif  // VANTOREL_WINDOWS_JOB_LIMITS_DERIVE_H
