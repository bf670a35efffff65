// Memory collector: one memory-status query, turned into the memory record
// by derive_mem, and the memory limit of the process's job object.
#include "windows_api.h"

#include <cstdint>

#include "job_limits.h"
#include "memory_derive.h"
#include "sysmon_internal.h"

static_assert(sizeof(MEMORYSTATUSEX) == 64, "MEMORYSTATUSEX layout");

int32_t sysmon_collect_mem(sysmon_mem_info *mem) {
    if (mem == nullptr) return -1;
    mem_readings readings = {};
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status)) {
        readings.has_status = 1;
        readings.total_phys = status.ullTotalPhys;
        readings.avail_phys = status.ullAvailPhys;
        readings.total_page_file = status.ullTotalPageFile;
        readings.avail_page_file = status.ullAvailPageFile;
    }
    derive_mem(mem, &readings);
    sysmon_job_memory_limit(&mem->limit, &mem->limit_used);
    return 0;
}
