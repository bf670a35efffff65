// GPU collector. No GPU figures are read yet: the record holds the
// placeholder values.
#include <cstring>

#include "sysmon_internal.h"
#include "text_fields.h"

int32_t sysmon_collect_gpu(sysmon_gpu_info *gpu) {
    if (gpu == nullptr) return -1;
    std::memset(gpu, 0, sizeof *gpu);
    text_field_set(gpu->name, "unknown");
    text_field_set(gpu->driver, "unknown");
    return 0;
}
