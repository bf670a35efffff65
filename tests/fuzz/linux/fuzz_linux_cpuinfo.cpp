// Fuzz target: /proc/cpuinfo from arbitrary bytes. The name is
// NUL-terminated well-formed UTF-8 within its field, the counts are not
// negative and the mean frequency is finite.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "cpuinfo_parse.h"
#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const exact_bytes text(data, size);
    cpuinfo_reading r;
    parse_cpuinfo(text.data(), text.size(), &r);
    check_text_field(r.name, "name");
    FUZZ_CHECK(r.physical_cores >= 0 && r.mhz_count >= 0, "negative count");
    FUZZ_CHECK(std::isfinite(r.mhz_mean) && r.mhz_mean >= 0, std::to_string(r.mhz_mean));
    return 0;
}
