#include "memory_derive.h"

#include <cstring>

#include "counter_rates.h"

void derive_mem(sysmon_mem_info *mem, const mem_readings *readings) {
    std::memset(mem, 0, sizeof *mem);
    if (!readings->has_status) return;
    mem->total = readings->total_phys;
    mem->available = readings->avail_phys;
    mem->used = counter_growth(readings->total_phys, readings->avail_phys);
    mem->cached = 0;
    mem->swap_total = readings->total_page_file;
    mem->swap_used =
        counter_growth(readings->total_page_file, readings->avail_page_file);
}
