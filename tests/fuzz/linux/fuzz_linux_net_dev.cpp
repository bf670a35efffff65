// Fuzz target: /proc/net/dev rows from arbitrary bytes. The interface name
// lands NUL-terminated within its field, and becomes well-formed UTF-8 the
// way the network collector copies it.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_checks.h"
#include "net_dev_parse.h"
#include "sysmon_internal.h"
#include "text_utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const exact_bytes line(data, size);
    net_dev_row row;
    std::memset(&row, 'X', sizeof row);
    if (parse_net_dev_line(line.data(), line.size(), &row)) {
        FUZZ_CHECK(std::memchr(row.name, '\0', sizeof row.name) != nullptr, "name not terminated");
        sysmon_net_info e{};
        utf8_set(e.name, row.name);
        check_text_field(e.name, "name");
    }
    return 0;
}
