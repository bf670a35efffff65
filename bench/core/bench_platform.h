// The machine the benchmarks' collectors report: filled once by the
// benchmark program, copied by every collection.
#ifndef VANTOREL_BENCH_PLATFORM_H
#define VANTOREL_BENCH_PLATFORM_H

#include "sysmon_internal.h"

struct bench_world {
    sysmon_cpu_info cpu;
    sysmon_core_info cores[SYSMON_MAX_CORES];
    int32_t cores_count;
    sysmon_mem_info mem;
    sysmon_disk_info disks[SYSMON_MAX_DISKS];
    int32_t disks_count;
    sysmon_net_info nets[SYSMON_MAX_NETS];
    int32_t nets_count;
    sysmon_proc_info procs[SYSMON_MAX_PROCS];
    int32_t procs_count;
    sysmon_gpu_info gpu;
    sysmon_battery_info bat;
    sysmon_system_info sys;
};

extern bench_world g_world;

#endif  // VANTOREL_BENCH_PLATFORM_H
