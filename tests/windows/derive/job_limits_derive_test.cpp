// Job-object limits from made-up job readings: the lower memory limit with
// what counts against it, CPU rate caps as processors, nested jobs.
#include <gtest/gtest.h>

#include "job_limits_derive.h"

namespace {

constexpr uint64_t MiB = 1024 * 1024;

job_reading memory_job(uint32_t flags, uint64_t process_limit, uint64_t job_limit,
                       int32_t has_used = 0, uint64_t used = 0) {
    job_reading job = {};
    job.has_limits = 1;
    job.limit_flags = flags;
    job.process_memory_limit = process_limit;
    job.job_memory_limit = job_limit;
    job.has_job_memory_used = has_used;
    job.job_memory_used = used;
    return job;
}

job_reading rate_job(uint32_t flags, uint32_t rate) {
    job_reading job = {};
    job.has_cpu_rate = 1;
    job.cpu_control_flags = flags;
    job.cpu_rate = rate;
    return job;
}

constexpr uint32_t kEnable = SYSMON_JOB_CPU_RATE_ENABLE;

}  // namespace

TEST(DeriveJobLimits, NoJobOrNoLimitGivesZero) {
    job_limits l = derive_job_limits(nullptr, 0, 1, 5 * MiB, 8);
    EXPECT_EQ(l.memory_limit, 0u);
    EXPECT_EQ(l.memory_used, 0u);
    EXPECT_EQ(l.cpus, 0.0);
    // Limits that are set but not flagged, or unread information, are none.
    job_reading jobs[2] = {memory_job(0, 100 * MiB, 200 * MiB), rate_job(0, 5000)};
    jobs[1].has_cpu_rate = 0;
    jobs[1].cpu_control_flags = kEnable | SYSMON_JOB_CPU_RATE_HARD_CAP;
    l = derive_job_limits(jobs, 2, 1, 5 * MiB, 8);
    EXPECT_EQ(l.memory_limit, 0u);
    EXPECT_EQ(l.memory_used, 0u);
    EXPECT_EQ(l.cpus, 0.0);
}

TEST(DeriveJobLimits, TheLowerMemoryLimitWithWhatCountsAgainstIt) {
    const uint32_t both = SYSMON_JOB_LIMIT_PROCESS_MEMORY | SYSMON_JOB_LIMIT_JOB_MEMORY;
    // The process limit is the lower: the process's own commit counts.
    job_reading job = memory_job(both, 256 * MiB, 512 * MiB, 1, 300 * MiB);
    job_limits l = derive_job_limits(&job, 1, 1, 40 * MiB, 4);
    EXPECT_EQ(l.memory_limit, 256 * MiB);
    EXPECT_EQ(l.memory_used, 40 * MiB);
    // The job limit is the lower: the job's commit counts.
    job = memory_job(both, 512 * MiB, 256 * MiB, 1, 100 * MiB);
    l = derive_job_limits(&job, 1, 1, 40 * MiB, 4);
    EXPECT_EQ(l.memory_limit, 256 * MiB);
    EXPECT_EQ(l.memory_used, 100 * MiB);
    // A job limit alone, its commit unknown: the limit, and 0 for the use.
    job = memory_job(SYSMON_JOB_LIMIT_JOB_MEMORY, 0, 64 * MiB);
    l = derive_job_limits(&job, 1, 1, 40 * MiB, 4);
    EXPECT_EQ(l.memory_limit, 64 * MiB);
    EXPECT_EQ(l.memory_used, 0u);
    // A process limit alone; the peak of the job is never the use.
    job = memory_job(SYSMON_JOB_LIMIT_PROCESS_MEMORY, 128 * MiB, 0, 1, 900 * MiB);
    l = derive_job_limits(&job, 1, 1, 7 * MiB, 4);
    EXPECT_EQ(l.memory_limit, 128 * MiB);
    EXPECT_EQ(l.memory_used, 7 * MiB);
    // Equal limits: the one nearer to being reached.
    job = memory_job(both, 256 * MiB, 256 * MiB, 1, 100 * MiB);
    l = derive_job_limits(&job, 1, 1, 40 * MiB, 4);
    EXPECT_EQ(l.memory_used, 100 * MiB);
}

TEST(DeriveJobLimits, CpuRateCapsAsProcessors) {
    // A hard cap of 25 % of an 8-processor machine: 2 processors.
    job_reading job = rate_job(kEnable | SYSMON_JOB_CPU_RATE_HARD_CAP, 2500);
    EXPECT_DOUBLE_EQ(derive_job_limits(&job, 1, 0, 0, 8).cpus, 2.0);
    // 1/100 of a percent of 16 processors.
    job = rate_job(kEnable | SYSMON_JOB_CPU_RATE_HARD_CAP, 1);
    EXPECT_DOUBLE_EQ(derive_job_limits(&job, 1, 0, 0, 16).cpus, 0.0016);
    // Minimum and maximum rates: the maximum (high 16 bits) caps.
    job = rate_job(kEnable | SYSMON_JOB_CPU_RATE_MIN_MAX_RATE, (5000u << 16) | 1000u);
    EXPECT_DOUBLE_EQ(derive_job_limits(&job, 1, 0, 0, 4).cpus, 2.0);
    // Not caps: a weight, a rate without the hard cap, control not enabled,
    // the whole machine, a maximum of 0.
    for (const job_reading &none :
         {rate_job(kEnable | SYSMON_JOB_CPU_RATE_WEIGHT_BASED, 5),
          rate_job(kEnable, 2500), rate_job(SYSMON_JOB_CPU_RATE_HARD_CAP, 2500),
          rate_job(kEnable | SYSMON_JOB_CPU_RATE_HARD_CAP, 10000),
          rate_job(kEnable | SYSMON_JOB_CPU_RATE_MIN_MAX_RATE, 1000u)})
        EXPECT_EQ(derive_job_limits(&none, 1, 0, 0, 8).cpus, 0.0) << none.cpu_control_flags;
    EXPECT_EQ(derive_job_limits(&job, 1, 0, 0, 0).cpus, 0.0);  // processors unknown
}

TEST(DeriveJobLimits, NestedJobsTheLowestApplies) {
    job_reading jobs[3] = {
        memory_job(SYSMON_JOB_LIMIT_JOB_MEMORY, 0, 1024 * MiB, 1, 10 * MiB),
        memory_job(SYSMON_JOB_LIMIT_PROCESS_MEMORY, 300 * MiB, 0),
        rate_job(kEnable | SYSMON_JOB_CPU_RATE_HARD_CAP, 5000),
    };
    jobs[0].has_cpu_rate = 1;
    jobs[0].cpu_control_flags = kEnable | SYSMON_JOB_CPU_RATE_HARD_CAP;
    jobs[0].cpu_rate = 1250;
    const job_limits l = derive_job_limits(jobs, 3, 1, 20 * MiB, 8);
    EXPECT_EQ(l.memory_limit, 300 * MiB);
    EXPECT_EQ(l.memory_used, 20 * MiB);
    EXPECT_DOUBLE_EQ(l.cpus, 1.0);
}
