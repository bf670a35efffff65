#include "job_limits_derive.h"

namespace {

// Keeps the lower of two memory limits; on a tie the one with more counted
// against it, which is the nearer to being reached.
void offer_memory(job_limits *out, uint64_t limit, uint64_t used) {
    if (limit == 0) return;
    if (out->memory_limit == 0 || limit < out->memory_limit ||
        (limit == out->memory_limit && used > out->memory_used)) {
        out->memory_limit = limit;
        out->memory_used = used;
    }
}

// The cap a job's CPU rate control puts on it, in 1/100 of a percent of
// the machine; 0 when it sets none.
uint32_t cpu_cap(const job_reading &job) {
    const uint32_t flags = job.cpu_control_flags;
    if (!job.has_cpu_rate || !(flags & SYSMON_JOB_CPU_RATE_ENABLE) ||
        (flags & SYSMON_JOB_CPU_RATE_WEIGHT_BASED))
        return 0;
    uint32_t rate = 0;
    if (flags & SYSMON_JOB_CPU_RATE_MIN_MAX_RATE)
        rate = job.cpu_rate >> 16;  // MaxRate
    else if (flags & SYSMON_JOB_CPU_RATE_HARD_CAP)
        rate = job.cpu_rate;
    return rate < SYSMON_JOB_CPU_RATE_WHOLE ? rate : 0;
}

}  // namespace

job_limits derive_job_limits(const job_reading *jobs, int32_t count, int32_t has_process_private,
                             uint64_t process_private, uint32_t logical_processors) {
    job_limits out = {0, 0, 0.0};
    uint32_t lowest_rate = 0;
    for (int32_t i = 0; jobs != nullptr && i < count; ++i) {
        const job_reading &job = jobs[i];
        if (job.has_limits) {
            if (job.limit_flags & SYSMON_JOB_LIMIT_PROCESS_MEMORY)
                offer_memory(&out, job.process_memory_limit,
                             has_process_private ? process_private : 0);
            if (job.limit_flags & SYSMON_JOB_LIMIT_JOB_MEMORY)
                offer_memory(&out, job.job_memory_limit,
                             job.has_job_memory_used ? job.job_memory_used : 0);
        }
        const uint32_t rate = cpu_cap(job);
        if (rate != 0 && (lowest_rate == 0 || rate < lowest_rate)) lowest_rate = rate;
    }
    if (lowest_rate != 0 && logical_processors != 0)
        out.cpus = static_cast<double>(lowest_rate) / SYSMON_JOB_CPU_RATE_WHOLE *
                   static_cast<double>(logical_processors);
    return out;
}
