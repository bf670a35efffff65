#include "gpu_derive.h"

#include <cstring>

#include "text_fields.h"

void derive_gpu(sysmon_gpu_info *gpu) {
    std::memset(gpu, 0, sizeof *gpu);
    text_field_set(gpu->name, "unknown");
    text_field_set(gpu->driver, "unknown");
}
