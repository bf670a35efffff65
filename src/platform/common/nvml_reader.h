// NVIDIA adapters through an NVML table: opened once per library
// initialisation (the library's own initialisation can take seconds), read
// on every collection, closed at clean-up. Plain code: the table may hold
// the real library's functions or a test's.
#ifndef VANTOREL_NVML_READER_H
#define VANTOREL_NVML_READER_H

#include <cstddef>
#include <cstdint>

#include "nvml_api.h"
#include "sysmon_internal.h"

struct nvml_device_slot {
    nvml_device handle;
    char name[128];
    char bus_id[32];
};

struct nvml_session {
    int32_t open;   // 1 between a successful nvmlInit and its shutdown
    int32_t count;  // devices that gave a handle
    nvml_device_slot devices[SYSMON_MAX_GPUS];
    char driver[64];
};

// Initialises the library and lists its devices (at most SYSMON_MAX_GPUS; a
// device that refuses a handle is left out). Returns the device count; 0
// with the session closed when initialisation fails.
int32_t nvml_session_open(nvml_session *session, const nvml_table *table);
// Shuts the library down if the session is open, and forgets the devices.
void nvml_session_close(nvml_session *session, const nvml_table *table);

// Fills `out` (cleared first) with device `index`'s figures: name, GPU
// utilisation, memory (the v2 query where present, else v1), temperature,
// power, driver version, source "nvml" and bus id. A query that answers
// "not supported" or fails leaves its figure 0. False, with `out` cleared,
// when the device is lost: it is then left out of this collection.
bool nvml_read_device(const nvml_session *session, const nvml_table *table, int32_t index,
                      sysmon_gpu_info *out);

// NVML text (at most `src_size` bytes, which need not hold a NUL) into a
// record field: printable ASCII is kept, every other byte becomes '?'.
void nvml_copy_text(char *dst, size_t dst_size, const char *src, size_t src_size);
// "00000000:65:00.0" (NVML's form, any case) as "0000:65:00.0"; "" when the
// text is not a PCI address.
void nvml_bus_id(const char *text, size_t text_size, char *out, size_t out_size);

#endif  // VANTOREL_NVML_READER_H
