// GPU collector. No GPU figures are read yet: the record holds the
// placeholder values.
#include <cstdio>
#include <cstring>

#include "sysmon_internal.h"

int32_t sysmon_collect_gpu(sysmon_gpu_info *gpu) {
    if (gpu == nullptr) return -1;
    std::memset(gpu, 0, sizeof *gpu);
    std::snprintf(gpu->name, sizeof gpu->name, "%s", "unknown");
    std::snprintf(gpu->driver, sizeof gpu->driver, "%s", "unknown");
    return 0;
}
