// Collectors for the benchmarks: each copies a prepared record (or the used
// part of a prepared list) and allocates nothing, so that a benchmark of a
// reading measures the core and not the fake.
#include "bench_platform.h"

#include <cstdio>
#include <cstring>

bench_world g_world;

namespace {

template <typename T>
int32_t fill_list(record_list<T> *out, const T *source, int32_t n) {
    if (out == nullptr) return -1;
    if (!record_list_reserve(out, n)) n = out->capacity;
    std::memcpy(out->items, source, sizeof(T) * static_cast<size_t>(n));
    out->count = n;
    return 0;
}

}  // namespace

int32_t sysmon_collect_cpu(sysmon_cpu_info *cpu, record_list<sysmon_core_info> *cores, const sysmon_window *) {
    if (cpu == nullptr) return -1;
    std::memcpy(cpu, &g_world.cpu, sizeof *cpu);
    return fill_list(cores, g_world.cores, g_world.cores_count);
}

int32_t sysmon_collect_mem(sysmon_mem_info *mem) {
    if (mem == nullptr) return -1;
    *mem = g_world.mem;
    return 0;
}

int32_t sysmon_collect_disks(record_list<sysmon_disk_info> *disks, const sysmon_window *) {
    return fill_list(disks, g_world.disks, g_world.disks_count);
}

int32_t sysmon_collect_network(record_list<sysmon_net_info> *nets, const sysmon_window *) {
    return fill_list(nets, g_world.nets, g_world.nets_count);
}

int32_t sysmon_collect_processes(record_list<sysmon_proc_info> *procs, const sysmon_window *, uint64_t) {
    return fill_list(procs, g_world.procs, g_world.procs_count);
}

int32_t sysmon_collect_gpu(sysmon_gpu_info *gpus, int32_t *count, int32_t capacity, const sysmon_window *) {
    if (gpus == nullptr || count == nullptr || capacity < 1) return -1;
    gpus[0] = g_world.gpu;
    *count = 1;
    return 0;
}

void sysmon_platform_init() {}
void sysmon_platform_shutdown() {}

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
