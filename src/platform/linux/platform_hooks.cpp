// What the Linux platform keeps from one collection to the next: the GPU
// adapters and the vendor library behind them.
#include "linux_gpu.h"
#include "sysmon_internal.h"

void sysmon_platform_init() { linux_gpu_open(); }

void sysmon_platform_shutdown() { linux_gpu_close(); }
