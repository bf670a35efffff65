// Fuzz target: the walk over the system's process sweep block and the
// process derivations fed from it, as the Windows process collector runs
// them. The input is a 24-byte header (capacity, window, memory total) and
// the block; the block lies at a fixed address with everything behind it
// poisoned, so a name address in an input can point into the block and any
// read beyond it is reported.
// Checks: the walk ends, each entry lies in the block, each name lies in
// the block, every record's texts are NUL-terminated well-formed UTF-8, the
// status is "running" or "stopped", shares are finite and within 0..100,
// and no more records than the capacity are filled.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fixed_block.h"
#include "fuzz_checks.h"
#include "proc_walk.h"
#include "process_sweep.h"
#include "utf8_text.h"

namespace {

constexpr size_t kHeaderSize = 24;

proc_table s_tables[2];
sysmon_proc_info s_procs[64];
char s_name[1024];

template <typename T>
T read_at(const uint8_t *data, size_t at) {
    T v;
    std::memcpy(&v, data + at, sizeof v);
    return v;
}

void check_record(const sysmon_proc_info &p) {
    check_text_field(p.name, "name");
    check_text_field(p.command, "command");
    check_text_field(p.user, "user");
    check_text_field(p.status, "status");
    FUZZ_CHECK(std::strcmp(p.status, "running") == 0 || std::strcmp(p.status, "stopped") == 0, p.status);
    // A share of one processor: not capped at 100 (a process may keep several busy).
    FUZZ_CHECK(std::isfinite(p.cpu_percent) && p.cpu_percent >= 0, std::to_string(p.cpu_percent));
    FUZZ_CHECK(std::isfinite(p.memory_percent) && p.memory_percent >= 0, std::to_string(p.memory_percent));
    FUZZ_CHECK(p.threads >= 0, "negative thread count");
}

// One collection over the block: walk, derive, check.
void collect(const unsigned char *block, size_t size, int32_t capacity, double elapsed,
             uint64_t memory_total, const proc_table *prev, proc_table *next) {
    int32_t count = -7;
    proc_walk walk;
    derive_proc_walk_begin(&walk, s_procs, &count, capacity, prev, next, elapsed, memory_total);
    FUZZ_CHECK(count == 0, "count not cleared");

    sweep_cursor cursor;
    sweep_begin(&cursor, block, size);
    sweep_process entry;
    size_t entries = 0;
    while (sweep_next(&cursor, &entry)) {
        ++entries;
        FUZZ_CHECK(entries <= size / SWEEP_PROCESS_ENTRY_SIZE, "more entries than the block can hold");
        if (entry.name_length > 0) {
            const auto *units = static_cast<const unsigned char *>(entry.name_units);
            FUZZ_CHECK(units != nullptr && units >= block && units + 2 * entry.name_length <= block + size,
                       "name outside the block");
        }
        FUZZ_CHECK(!entry.all_threads_suspended || entry.threads > 0, "suspended without threads");
        utf8_from_utf16(s_name, sizeof s_name, entry.name_units, entry.name_length);
        const uint32_t pid = static_cast<uint32_t>(entry.pid);
        const proc_identity identity = {pid, static_cast<uint32_t>(entry.ppid), entry.threads, s_name,
                                        sizeof s_name};
        sysmon_proc_info *proc = derive_proc_walk_add(&walk, &identity);
        if (proc == nullptr) break;
        const proc_figures figures = {1, entry.working_set, 1, entry.kernel_time, entry.user_time, 1,
                                      entry.read_transfer, entry.write_transfer};
        derive_proc_apply_figures(&walk, proc, &figures);
        derive_proc_set_status(proc, entry.all_threads_suspended);
        if ((pid & 3) == 1) {
            // A command line and an owner read from the process (in UTF-8,
            // as the collector converts them): the name again, cut to the
            // fields' sizes by the derivations.
            derive_proc_set_command(proc, s_name, sizeof s_name);
            derive_proc_set_user(proc, s_name);
        }
    }
    derive_proc_walk_end(&walk, &count);
    const int32_t usable = capacity > 0 ? capacity : 0;
    FUZZ_CHECK(count >= 0 && count <= usable, "count " + std::to_string(count));
    for (int32_t i = 0; i < count; ++i) check_record(s_procs[i]);
    // SYSMON_FUZZ_TRACE=1 prints the records, for reading an input.
    static const bool trace = std::getenv("SYSMON_FUZZ_TRACE") != nullptr;
    for (int32_t i = 0; trace && i < count; ++i)
        std::fprintf(stderr, "pid %d ppid %d threads %d %s \"%s\" cpu %.2f\n", s_procs[i].pid, s_procs[i].ppid,
                     s_procs[i].threads, s_procs[i].status, s_procs[i].name, s_procs[i].cpu_percent);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < kHeaderSize) return 0;
    const int32_t capacity = static_cast<int32_t>(read_at<uint16_t>(data, 0) % 80) - 8;  // -8 .. 71
    const int32_t cap = capacity > 64 ? 64 : capacity;
    double elapsed;
    std::memcpy(&elapsed, data + 8, sizeof elapsed);
    const uint64_t memory_total = read_at<uint64_t>(data, 16);

    unsigned char *block = fixed_block_load(data + kHeaderSize, size - kHeaderSize);
    if (block == nullptr) return 0;
    const size_t block_size = size - kHeaderSize;
    // Two collections: the second derives against the counters the first
    // stored, over the window from the input (NaN, negative, huge, tiny).
    collect(block, block_size, cap, 1.0, memory_total, &s_tables[1], &s_tables[0]);
    collect(block, block_size, cap, elapsed, memory_total, &s_tables[0], &s_tables[1]);
    // A walk over no block at all.
    sweep_cursor cursor;
    sweep_process entry;
    sweep_begin(&cursor, nullptr, block_size);
    FUZZ_CHECK(sweep_next(&cursor, &entry) == 0, "walk over no block");
    return 0;
}
