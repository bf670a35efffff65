// Fuzz target: the volume root list walk and the disk derivations, as the
// Windows disk collector runs them. The root list is either arbitrary
// UTF-16 units converted like the collector converts them, or a list of
// exactly the input's bytes (made well-formed UTF-8, maybe without its
// final NUL or its empty end text); each root is accepted or not, with space
// figures, file-system names and byte counters from the input; two
// collections over hostile windows.
// Checks: every root handed out lies within the list and is NUL-terminated
// there; the walk ends; no more entries than the capacity; every text
// NUL-terminated well-formed UTF-8; used equals total minus free, or 0.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "disk_walk.h"
#include "fuzz_checks.h"
#include "utf8_text.h"

namespace {

disk_table s_tables[2];
sysmon_disk_info s_disks[40];

struct volume_input {
    bool accepted;
    uint64_t total;
    uint64_t free;
    bool has_fs;
    char fs[SYSMON_DISK_FS_NAME_SIZE];
    disk_io io;
};

void collect(const std::vector<char> &list, const std::vector<volume_input> &volumes, int32_t capacity,
             double elapsed, const disk_table *prev, disk_table *next) {
    int32_t count = -5;
    disk_walk walk;
    derive_disk_walk_begin(&walk, s_disks, &count, capacity, list.empty() ? nullptr : list.data(), list.size(),
                           prev, next, elapsed);
    FUZZ_CHECK(count == 0, "count not cleared");
    const char *root;
    size_t steps = 0;
    std::vector<const volume_input *> added;
    while ((root = derive_disk_walk_next(&walk)) != nullptr) {
        FUZZ_CHECK(++steps <= list.size(), "the walk does not end");
        FUZZ_CHECK(root >= list.data() && root < list.data() + list.size(), "root outside the list");
        const size_t room = static_cast<size_t>(list.data() + list.size() - root);
        FUZZ_CHECK(std::memchr(root, '\0', room) != nullptr, "root without its NUL in the list");
        FUZZ_CHECK(root[0] != '\0', "empty root handed out");
        const volume_input &v = volumes[steps % volumes.size()];
        if (!v.accepted) continue;
        derive_disk_walk_add(&walk, root, v.total, v.free, v.has_fs ? v.fs : nullptr, &v.io);
        added.push_back(&v);
    }
    derive_disk_walk_end(&walk, &count);
    const int32_t usable = capacity > 0 ? capacity : 0;
    FUZZ_CHECK(count >= 0 && count <= usable, "count " + std::to_string(count));
    for (int32_t i = 0; i < count; ++i) {
        const sysmon_disk_info &d = s_disks[i];
        check_text_field(d.name, "name");
        check_text_field(d.mount, "mount");
        check_text_field(d.fs, "fs");
        const volume_input &v = *added[i];
        FUZZ_CHECK(d.used == (v.total >= v.free ? v.total - v.free : 0), "used");
        if (!v.io.has_counters) FUZZ_CHECK(d.read_bytes_sec == 0 && d.write_bytes_sec == 0, "rate without counters");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int32_t capacity = in.ConsumeIntegralInRange<int32_t>(-4, 40);
    const double elapsed = in.ConsumeFloatingPoint<double>();

    std::vector<volume_input> volumes(in.ConsumeIntegralInRange<size_t>(1, 8));
    for (volume_input &v : volumes) {
        v.accepted = in.ConsumeIntegralInRange<int>(0, 3) != 0;
        v.total = in.ConsumeIntegral<uint64_t>();
        v.free = in.ConsumeBool() ? v.total / 3 : in.ConsumeIntegral<uint64_t>();
        v.has_fs = in.ConsumeBool();
        const std::string fs_units = in.ConsumeRandomLengthString(80);
        utf8_from_utf16(v.fs, sizeof v.fs, fs_units.data(), fs_units.size() / 2);
        v.io.has_counters = in.ConsumeBool();
        v.io.bytes_read = in.ConsumeIntegral<uint64_t>();
        v.io.bytes_written = in.ConsumeIntegral<uint64_t>();
    }

    std::vector<char> list;
    const bool from_units = in.ConsumeBool();
    const std::string rest = in.ConsumeRemainingBytesAsString();
    if (from_units) {
        // The collector's list: SYSMON_DISK_ROOT_LIST_UNITS units read from
        // the system, converted into SYSMON_DISK_ROOT_LIST_SIZE bytes.
        std::vector<char> units(2 * SYSMON_DISK_ROOT_LIST_UNITS, '\0');
        std::memcpy(units.data(), rest.data(), rest.size() < units.size() ? rest.size() : units.size());
        list.assign(SYSMON_DISK_ROOT_LIST_SIZE, 'X');
        utf8_list_from_utf16(list.data(), list.size(), units.data(), SYSMON_DISK_ROOT_LIST_UNITS);
    } else {
        list.assign(rest.begin(), rest.end());
        utf8_make_well_formed(list.data(), list.size());
    }
    collect(list, volumes, capacity, 1.0, &s_tables[1], &s_tables[0]);
    for (volume_input &v : volumes) {
        v.io.bytes_read += 4096;
        v.io.bytes_written -= 512;
    }
    collect(list, volumes, capacity, elapsed, &s_tables[0], &s_tables[1]);
    return 0;
}
