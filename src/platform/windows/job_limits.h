// The limits the job objects of the calling process put on it, asked of
// Windows and derived by job_limits_derive: plain values out.
//
// Windows answers for the job the process belongs to directly (for nested
// jobs, the innermost one); a job around it is reachable only through a
// handle the process does not have, so only that job's limits are read.
#ifndef VANTOREL_WINDOWS_JOB_LIMITS_H
#define VANTOREL_WINDOWS_JOB_LIMITS_H

#include <cstdint>

// The lowest memory limit of the process's job (its per-process or its
// job-wide limit, bytes) into `limit`, and what counts against it into
// `used`: the process's own commit for a per-process limit, the commit of
// all the job's processes for a job-wide one (0 when Windows tells
// neither). Both 0 when no job limits the process's memory.
void sysmon_job_memory_limit(uint64_t *limit, uint64_t *used);

// The processors a hard CPU rate cap of the process's job leaves it, out of
// `logical_processors`; 0 when none caps it.
double sysmon_job_cpu_limit(uint32_t logical_processors);

#endif  // VANTOREL_WINDOWS_JOB_LIMITS_H
