// Fuzz target: /proc/self/mountinfo lines and their octal escapes, from
// arbitrary bytes. Every text lands NUL-terminated within its field (the
// texts are the system's raw bytes here; the disk collector makes them
// well-formed UTF-8 when it fills the records, as the check below does);
// decoding never writes beyond the given size.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_checks.h"
#include "mountinfo_parse.h"
#include "sysmon_internal.h"
#include "text_utf8.h"

namespace {

template <size_t N>
void check_terminated(const char (&field)[N], const char *what) {
    FUZZ_CHECK(std::memchr(field, '\0', N) != nullptr, std::string(what) + " not terminated");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const exact_bytes line(data, size);
    mount_entry m;
    std::memset(&m, 'X', sizeof m);
    if (parse_mountinfo_line(line.data(), line.size(), &m)) {
        check_terminated(m.mount_point, "mount point");
        check_terminated(m.fs_type, "fs type");
        check_terminated(m.source, "source");
        sysmon_disk_info d{};
        utf8_set(d.mount, m.mount_point);
        utf8_set(d.fs, m.fs_type);
        check_text_field(d.mount, "mount");
        check_text_field(d.fs, "fs");
    }
    // Decoding into every small size, with a guard byte behind.
    const size_t out_size = size % 67;
    std::vector<char> out(out_size + 1, 'G');
    const size_t written = decode_mount_escapes(line.data(), line.size(), out.data(), out_size);
    FUZZ_CHECK(out[out_size] == 'G', "decoding wrote beyond its size");
    if (out_size > 0) FUZZ_CHECK(written < out_size && out[written] == '\0', "decoding not terminated");
    return 0;
}
