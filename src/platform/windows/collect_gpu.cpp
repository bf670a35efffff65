// GPU collector. No GPU figures are read on this platform: the record always
// holds the placeholder values.
#include "gpu_derive.h"
#include "sysmon_internal.h"

int32_t sysmon_collect_gpu(sysmon_gpu_info *gpu) {
    if (gpu == nullptr) return -1;
    derive_gpu(gpu);
    return 0;
}
