// Collectors for the benchmarks: each copies a prepared record (or the used
// part of a prepared list) and allocates nothing, so that a benchmark of a
// reading measures the core and not the fake.
#include "bench_platform.h"

#include <cstdio>
#include <cstring>

bench_world g_world;

namespace {

template <typename T>
int32_t fill_list(T *out, int32_t *count, int32_t capacity, const T *source, int32_t n) {
    if (out == nullptr || count == nullptr) return -1;
    if (n > capacity) n = capacity;
    std::memcpy(out, source, sizeof(T) * static_cast<size_t>(n));
    *count = n;
    return 0;
}

}  // namespace

int32_t sysmon_collect_cpu(sysmon_cpu_info *cpu, const sysmon_window *) {
    if (cpu == nullptr) return -1;
    std::memcpy(cpu, &g_world.cpu, sizeof *cpu);
    return 0;
}

int32_t sysmon_collect_mem(sysmon_mem_info *mem) {
    if (mem == nullptr) return -1;
    *mem = g_world.mem;
    return 0;
}

int32_t sysmon_collect_disks(sysmon_disk_info *disks, int32_t *count, int32_t capacity, const sysmon_window *) {
    return fill_list(disks, count, capacity, g_world.disks, g_world.disks_count);
}

int32_t sysmon_collect_network(sysmon_net_info *nets, int32_t *count, int32_t capacity, const sysmon_window *) {
    return fill_list(nets, count, capacity, g_world.nets, g_world.nets_count);
}

int32_t sysmon_collect_processes(sysmon_proc_info *procs, int32_t *count, int32_t capacity,
                                 const sysmon_window *, uint64_t) {
    return fill_list(procs, count, capacity, g_world.procs, g_world.procs_count);
}

int32_t sysmon_collect_gpu(sysmon_gpu_info *gpu) {
    if (gpu == nullptr) return -1;
    *gpu = g_world.gpu;
    return 0;
}

int32_t sysmon_collect_battery(sysmon_battery_info *bat) {
    if (bat == nullptr) return -1;
    *bat = g_world.bat;
    return 0;
}

int32_t sysmon_collect_system(sysmon_system_info *sys) {
    if (sys == nullptr) return -1;
    *sys = g_world.sys;
    return 0;
}

sysmon_terminate_result sysmon_platform_terminate(int32_t, unsigned long *error_code) {
    *error_code = 0;
    return SYSMON_TERMINATE_OK;
}

void sysmon_platform_error_text(unsigned long, char *out, size_t size) {
    if (size > 0) out[0] = '\0';
}

int32_t sysmon_platform_code() { return 2; }
