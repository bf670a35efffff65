// The GPU collector's adapters, kept from one collection to the next.
#ifndef VANTOREL_LINUX_GPU_H
#define VANTOREL_LINUX_GPU_H

// Loads NVML (once per process) and initialises it, lists the DRM cards and
// chooses the primary adapter. Run by each library initialisation, and by
// the collector when the sources changed since.
void linux_gpu_open();
// Shuts NVML down and forgets the adapters.
void linux_gpu_close();

#endif  // VANTOREL_LINUX_GPU_H
