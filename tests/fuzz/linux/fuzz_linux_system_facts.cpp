// Fuzz target: os-release texts, /proc/uptime, uname's machine name and
// instants of any value. The product name lands NUL-terminated within any
// size; the instant text has the documented YYYY-MM-DDTHH:MM:SSZ shape;
// the architecture is one of the four words.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_checks.h"
#include "system_facts_parse.h"

namespace {

// The documented shape of the boot time: YYYY-MM-DDTHH:MM:SSZ.
bool instant_shaped(const char *t) {
    static const char kShape[] = "0000-00-00T00:00:00Z";
    if (std::strlen(t) != sizeof kShape - 1) return false;
    for (size_t i = 0; i < sizeof kShape - 1; ++i) {
        if (kShape[i] == '0' ? (t[i] < '0' || t[i] > '9') : t[i] != kShape[i]) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const size_t out_size = in.ConsumeBool() ? 128 : in.ConsumeIntegralInRange<size_t>(0, 24);
    const int64_t instant = in.ConsumeIntegral<int64_t>();
    const std::string machine = in.ConsumeRandomLengthString(80);
    const std::vector<char> rest = in.ConsumeRemainingBytes<char>();
    const exact_bytes text(rest.data(), rest.size());

    std::vector<char> out(out_size + 1, 'G');
    if (parse_os_release_pretty_name(text.data(), text.size(), out.data(), out_size))
        FUZZ_CHECK(out_size > 0 && std::memchr(out.data(), '\0', out_size) != nullptr, "name not terminated");
    FUZZ_CHECK(out[out_size] == 'G', "name written beyond its size");

    uint64_t seconds = 0;
    parse_uptime_seconds(text.data(), text.size(), &seconds);

    const std::string arch = linux_arch_name(machine.c_str());
    FUZZ_CHECK(arch == "x86_64" || arch == "aarch64" || arch == "x86" || arch == "unknown", arch);

    char boot[32];
    std::memset(boot, 'G', sizeof boot);
    format_utc_instant(instant, boot, sizeof boot);
    FUZZ_CHECK(std::memchr(boot, '\0', sizeof boot) != nullptr, "instant not terminated");
    FUZZ_CHECK(instant_shaped(boot), boot);
    return 0;
}
