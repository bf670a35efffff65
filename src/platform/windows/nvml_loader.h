// Opens NVIDIA's management library at run time and fills the NVML table:
// nvml.dll from the system folder, else from
// %ProgramW6432%\NVIDIA Corporation\NVSMI.
#ifndef VANTOREL_WINDOWS_NVML_LOADER_H
#define VANTOREL_WINDOWS_NVML_LOADER_H

#include "nvml_api.h"

// Loads the library once (it stays loaded; a library that could not be
// found is looked for again at the next call). True when every needed
// function was found; else the table is cleared.
bool nvml_load(nvml_table *table);

#endif  // VANTOREL_WINDOWS_NVML_LOADER_H
