// Fuzz target: /proc/diskstats rows from arbitrary bytes. The device name
// lands NUL-terminated within its field.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_checks.h"
#include "mountinfo_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const exact_bytes line(data, size);
    diskstats_row row;
    std::memset(&row, 'X', sizeof row);
    if (parse_diskstats_line(line.data(), line.size(), &row))
        FUZZ_CHECK(std::memchr(row.name, '\0', sizeof row.name) != nullptr, "name not terminated");
    return 0;
}
