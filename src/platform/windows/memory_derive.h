// Memory derivation of the Windows collector: the memory record from the
// figures of the memory status.
//
// Called with the global lock held, like the collector that uses it.
#ifndef VANTOREL_WINDOWS_MEMORY_DERIVE_H
#define VANTOREL_WINDOWS_MEMORY_DERIVE_H

#include <cstdint>

#include "sysmon_internal.h"

struct mem_readings {
    int32_t has_status;  // 1 when the memory status was read
    uint64_t total_phys;
    uint64_t avail_phys;
    uint64_t total_page_file;
    uint64_t avail_page_file;
};

void derive_mem(sysmon_mem_info *mem, const mem_readings *readings);

#endif  // VANTOREL_WINDOWS_MEMORY_DERIVE_H
