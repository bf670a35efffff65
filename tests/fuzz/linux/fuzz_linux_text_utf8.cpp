// Fuzz target: the copy of system text (arbitrary bytes on Linux) into the
// records' fields. The copy is NUL-terminated well-formed UTF-8 within any
// field size, nothing is written beyond the field, the source is read only
// within its length, and well-formed input comes through unchanged up to
// the last whole character that fits.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_checks.h"
#include "text_utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const size_t dst_size = in.ConsumeIntegralInRange<size_t>(0, 300);
    const std::vector<char> rest = in.ConsumeRemainingBytes<char>();
    const exact_bytes src(rest.data(), rest.size());
    std::vector<char> dst(dst_size + 1, 'G');
    const size_t written = utf8_copy_repaired(dst.data(), dst_size, src.data(), src.size());
    FUZZ_CHECK(dst[dst_size] == 'G', "copy wrote beyond the field");
    if (dst_size == 0) return 0;
    FUZZ_CHECK(written < dst_size && dst[written] == '\0', "copy not terminated where it says");
    FUZZ_CHECK(std::strlen(dst.data()) == written, "NUL inside the copy");
    FUZZ_CHECK(utf8_well_formed(dst.data(), written), "copy ill-formed");

    size_t text_len = 0;
    while (text_len < src.size() && src[text_len] != '\0') ++text_len;
    if (utf8_well_formed(src.data(), text_len)) {
        size_t expected = 0;
        for (size_t i = 1; i <= text_len && i <= dst_size - 1; ++i)
            if (i == text_len || (static_cast<unsigned char>(src[i]) & 0xC0) != 0x80) expected = i;
        FUZZ_CHECK(written == expected && std::memcmp(dst.data(), src.data(), written) == 0,
                   "well-formed text changed");
    }
    return 0;
}
