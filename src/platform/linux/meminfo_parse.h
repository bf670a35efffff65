// /proc/meminfo: the figures of the memory record, in bytes.
#ifndef VANTOREL_LINUX_MEMINFO_PARSE_H
#define VANTOREL_LINUX_MEMINFO_PARSE_H

#include <cstddef>

#include "sysmon_internal.h"

// Fills the whole record: total MemTotal, available MemAvailable, used
// total - available, cached Buffers + Cached + SReclaimable, swap_total SwapTotal,
// swap_used SwapTotal - SwapFree (0 where a line is missing, never below 0).
void parse_meminfo(const char *text, size_t len, sysmon_mem_info *mem);

#endif  // VANTOREL_LINUX_MEMINFO_PARSE_H
