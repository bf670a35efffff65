// The GPU record of the Windows collector, which reads no GPU figures yet.
//
// Called with the global lock held, like the collector that uses it.
#ifndef VANTOREL_WINDOWS_GPU_DERIVE_H
#define VANTOREL_WINDOWS_GPU_DERIVE_H

#include "sysmon_internal.h"

// The placeholder record: no GPU figures are read.
void derive_gpu(sysmon_gpu_info *gpu);

#endif  // VANTOREL_WINDOWS_GPU_DERIVE_H
