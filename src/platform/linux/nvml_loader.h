// Opens NVIDIA's management library at run time and fills the NVML table.
#ifndef VANTOREL_LINUX_NVML_LOADER_H
#define VANTOREL_LINUX_NVML_LOADER_H

#include "nvml_api.h"

// Opens `library` (a name dlopen searches for, or a path) once and keeps it
// open; a later call with the same name reuses it, another name replaces it.
// True when every needed function was found; else the table is cleared.
bool nvml_load(const char *library, nvml_table *table);

#endif  // VANTOREL_LINUX_NVML_LOADER_H
