// The limits of the cgroups the calling process belongs to: the memory limit
// and the processors it may use, found through /proc/self/cgroup and the
// cgroup file systems listed in /proc/self/mountinfo (v1, v2 and hybrid
// layouts).
#ifndef VANTOREL_LINUX_CGROUP_LIMITS_H
#define VANTOREL_LINUX_CGROUP_LIMITS_H

#include <cstdint>

#include "linux_sources.h"

// The lowest memory limit on the path from the process's cgroup up to its
// hierarchy's root (bytes; 0 when none), with that cgroup's usage in `used`
// (0 when there is no limit).
uint64_t cgroup_memory_limit(const linux_sources &src, uint64_t *used);

// The lowest of the CPU quotas over their periods and the processors of the
// cpusets on that path, in processors; a cpuset counts only when it holds
// fewer than `machine_processors`. 0 when nothing limits the process.
double cgroup_cpu_limit(const linux_sources &src, int32_t machine_processors);

#endif  // VANTOREL_LINUX_CGROUP_LIMITS_H
