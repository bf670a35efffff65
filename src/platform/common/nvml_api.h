// The part of NVIDIA's management library (NVML) that the GPU collectors use,
// as a table of function pointers. The library is never linked: each
// platform's loader opens it at run time and fills the table by symbol name.
#ifndef VANTOREL_NVML_API_H
#define VANTOREL_NVML_API_H

#include <cstdint>

typedef int nvml_return;  // nvmlReturn_t
typedef struct nvml_device_opaque *nvml_device;

#define NVML_OK 0
#define NVML_ERR_NOT_SUPPORTED 3
#define NVML_ERR_GPU_IS_LOST 15
#define NVML_TEMPERATURE_GPU 0
#define NVML_NAME_BUFFER 96
#define NVML_DRIVER_BUFFER 80

struct nvml_utilization {
    unsigned int gpu;     // percent of time a kernel ran
    unsigned int memory;  // percent of time memory was read or written
};

struct nvml_memory {
    unsigned long long total, free, used;
};

// The v2 memory query keeps driver-reserved memory out of "used".
struct nvml_memory_v2 {
    unsigned int version;
    unsigned long long total, reserved, free, used;
};
// The structure's size with its version number in the top byte.
#define NVML_MEMORY_V2_VERSION (static_cast<unsigned int>(sizeof(nvml_memory_v2)) | (2u << 24))

struct nvml_pci_info {
    char bus_id_legacy[16];
    unsigned int domain, bus, device, pci_device_id, pci_subsystem_id;
    char bus_id[32];  // "00000000:65:00.0"
};

struct nvml_table {
    nvml_return (*init)();                                   // nvmlInit_v2
    nvml_return (*shutdown)();                               // nvmlShutdown
    nvml_return (*device_count)(unsigned int *);             // nvmlDeviceGetCount_v2
    nvml_return (*device_handle)(unsigned int, nvml_device *);  // nvmlDeviceGetHandleByIndex_v2
    nvml_return (*device_name)(nvml_device, char *, unsigned int);
    nvml_return (*device_pci)(nvml_device, nvml_pci_info *);  // nvmlDeviceGetPciInfo_v3
    nvml_return (*utilization)(nvml_device, nvml_utilization *);
    nvml_return (*memory)(nvml_device, nvml_memory *);
    nvml_return (*memory_v2)(nvml_device, nvml_memory_v2 *);  // optional
    nvml_return (*temperature)(nvml_device, int, unsigned int *);
    nvml_return (*power)(nvml_device, unsigned int *);        // milliwatts
    nvml_return (*driver_version)(char *, unsigned int);      // nvmlSystemGetDriverVersion
};

// The symbols a loader resolves, in table order.
int32_t nvml_symbol_count();
const char *nvml_symbol_name(int32_t index);
// Stores the address found for symbol `index` (null when missing).
void nvml_table_set(nvml_table *table, int32_t index, void *address);
// Whether every symbol the collectors need was found (only the v2 memory
// query may be missing).
bool nvml_table_complete(const nvml_table *table);

#endif  // VANTOREL_NVML_API_H
