// What the Windows platform keeps from one collection to the next: the GPU
// adapters, the vendor library and the performance counters behind them.
#include "sysmon_internal.h"
#include "windows_gpu.h"

void sysmon_platform_init() { windows_gpu_open(); }

void sysmon_platform_shutdown() { windows_gpu_close(); }
