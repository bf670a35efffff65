// Fuzz target: /proc/meminfo from arbitrary bytes. Used memory is total
// minus available (0 when available exceeds the total), swap in use never
// exceeds the swap total.
#include <cstdint>
#include <vector>

#include "fuzz_checks.h"
#include "meminfo_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const exact_bytes text(data, size);
    sysmon_mem_info m;
    parse_meminfo(text.data(), text.size(), &m);
    FUZZ_CHECK(m.used == (m.total >= m.available ? m.total - m.available : 0), "used");
    FUZZ_CHECK(m.swap_used <= m.swap_total, "swap used beyond the total");
    return 0;
}
