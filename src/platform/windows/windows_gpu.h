// The GPU collector's adapters, kept from one collection to the next.
#ifndef VANTOREL_WINDOWS_GPU_H
#define VANTOREL_WINDOWS_GPU_H

// Loads NVML (once per process) and initialises it, lists the DXGI adapters,
// opens the GPU performance counters and chooses the primary adapter. Run by
// each library initialisation.
void windows_gpu_open();
// Shuts NVML down, closes the counters and forgets the adapters.
void windows_gpu_close();

#endif  // VANTOREL_WINDOWS_GPU_H
