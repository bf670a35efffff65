// Process identity, memory share, processor share against the previous
// times, and the walk with its capacity stop and table rebuild.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "derive.h"

namespace {

// What the system answers for one process. `opens` false: OpenProcess
// fails; has_times false: GetProcessTimes fails.
struct fake_proc {
    uint32_t pid;
    std::string exe = "app.exe";
    bool opens = true;
    uint64_t working_set = 4096;
    bool has_times = true;
    uint64_t kernel = 0;
    uint64_t user = 0;
};

struct proc_state {
    std::vector<prev_proc_entry> prev = std::vector<prev_proc_entry>(SYSMON_MAX_PROCS);
    int32_t prev_count = 0;
};

// One collection over `list`, as the collector walks the snapshot. Returns
// the count; `opened` receives the pids that were opened.
int32_t collect(std::vector<sysmon_proc_info> *procs, int32_t capacity,
                const std::vector<fake_proc> &list, double elapsed,
                uint64_t memory_total, proc_state *s,
                std::vector<uint32_t> *opened = nullptr) {
    int32_t count = -1;
    proc_walk walk;
    derive_proc_walk_begin(&walk, procs->data(), &count, capacity);
    EXPECT_EQ(count, 0);
    for (const fake_proc &f : list) {
        sysmon_proc_info *proc = derive_proc_walk_next(&walk);
        if (proc == nullptr) break;
        const proc_entry entry = {f.pid, 4, 3, f.exe.c_str(), f.exe.size() + 1};
        if (!derive_proc_fill_identity(proc, &entry)) continue;
        if (opened != nullptr) opened->push_back(f.pid);
        if (!f.opens) continue;
        derive_proc_apply_memory(proc, f.working_set, memory_total);
        if (f.has_times)
            derive_proc_apply_times(proc, f.kernel, f.user, s->prev.data(),
                                    s->prev_count, elapsed);
    }
    derive_proc_walk_end(&walk, &count, s->prev.data(), &s->prev_count);
    return count;
}

fake_proc busy(uint32_t pid, uint64_t cpu_time) {
    fake_proc f{pid};
    f.kernel = cpu_time / 2;
    f.user = cpu_time - cpu_time / 2;
    return f;
}

}  // namespace

TEST(DeriveProcess, IdentityFieldsAndIdleProcessIsNeverOpened) {
    std::vector<sysmon_proc_info> procs(4);
    std::memset(procs.data(), 0xAB, sizeof procs[0] * procs.size());
    proc_state s;
    std::vector<uint32_t> opened;
    fake_proc idle{0, "[System Process]"};
    ASSERT_EQ(collect(&procs, 4, {idle, busy(8, 100)}, 1.0, 1000, &s, &opened), 2);
    EXPECT_EQ(opened, std::vector<uint32_t>{8});
    EXPECT_EQ(procs[0].pid, 0);
    EXPECT_EQ(procs[0].ppid, 4);
    EXPECT_EQ(procs[0].threads, 3);
    EXPECT_STREQ(procs[0].name, "[System Process]");
    EXPECT_STREQ(procs[0].command, "[System Process]");
    EXPECT_STREQ(procs[0].user, "SYSTEM");
    EXPECT_STREQ(procs[0].status, "running");
    EXPECT_EQ(procs[0].memory_bytes, 0u);
    EXPECT_EQ(procs[0].cpu_time, 0u);
    EXPECT_EQ(procs[1].memory_bytes, 4096u);
    EXPECT_EQ(procs[1].cpu_time, 100u);
    EXPECT_EQ(procs[1].read_bytes_sec, 0u);
    EXPECT_EQ(procs[1].write_bytes_sec, 0u);
    const sysmon_proc_info zero = {};
    EXPECT_EQ(std::memcmp(&procs[2], &zero, sizeof zero), 0);
    EXPECT_EQ(std::memcmp(&procs[3], &zero, sizeof zero), 0);
}

TEST(DeriveProcess, LongExecutableNamesAreCutPerField) {
    sysmon_proc_info proc = {};
    const std::string exe(200, 'e');
    const proc_entry entry = {7, 1, 1, exe.c_str(), exe.size() + 1};
    EXPECT_TRUE(derive_proc_fill_identity(&proc, &entry));
    EXPECT_EQ(std::string(proc.name), exe.substr(0, 127));
    EXPECT_EQ(std::string(proc.command), exe);

    // A name array filled to its end without a NUL is read within it.
    const std::string full(260, 'f');
    const proc_entry unterminated = {7, 1, 1, full.data(), 260};
    derive_proc_fill_identity(&proc, &unterminated);
    EXPECT_EQ(std::string(proc.command), full);
}

TEST(DeriveProcess, MemoryShare) {
    sysmon_proc_info proc = {};
    derive_proc_apply_memory(&proc, 1073741824ull, 8589934592ull);
    EXPECT_EQ(proc.memory_bytes, 1073741824u);
    EXPECT_DOUBLE_EQ(proc.memory_percent, 12.5);

    proc = {};
    derive_proc_apply_memory(&proc, 1073741824ull, 0);
    EXPECT_EQ(proc.memory_bytes, 1073741824u);
    EXPECT_DOUBLE_EQ(proc.memory_percent, 0.0);
}

TEST(DeriveProcess, ProcessorShareOfOneProcessorCappedAtHundred) {
    const prev_proc_entry prev[] = {{10, 1000}, {20, 0}, {30, 9000000}};
    sysmon_proc_info proc = {};
    proc.pid = 10;
    derive_proc_apply_times(&proc, 2000000, 3001000, prev, 3, 1.0);
    EXPECT_EQ(proc.kernel_time, 2000000u);
    EXPECT_EQ(proc.user_time, 3001000u);
    EXPECT_EQ(proc.cpu_time, 5001000u);
    EXPECT_DOUBLE_EQ(proc.cpu_percent, 50.0);

    proc.pid = 20;  // 3 s of processor time in 1 s: two processors busy
    derive_proc_apply_times(&proc, 0, 30000000, prev, 3, 1.0);
    EXPECT_DOUBLE_EQ(proc.cpu_percent, 100.0);

    proc.pid = 30;  // pid reused by a process with less time
    derive_proc_apply_times(&proc, 0, 100, prev, 3, 1.0);
    EXPECT_DOUBLE_EQ(proc.cpu_percent, 0.0);

    proc.pid = 40;  // new process
    derive_proc_apply_times(&proc, 0, 50000000, prev, 3, 1.0);
    EXPECT_DOUBLE_EQ(proc.cpu_percent, 0.0);

    proc.pid = 10;  // the clock's floor: no share
    derive_proc_apply_times(&proc, 0, 5001000, prev, 3, 0.001);
    EXPECT_DOUBLE_EQ(proc.cpu_percent, 0.0);
    derive_proc_apply_times(&proc, 0, 5001000, prev, 3, 2.0);
    EXPECT_DOUBLE_EQ(proc.cpu_percent, 25.0);
}

TEST(DeriveProcess, FirstCollectionHasNoShareThenMeasuresAgainstTable) {
    std::vector<sysmon_proc_info> procs(4);
    proc_state s;
    collect(&procs, 4, {busy(8, 1000), busy(12, 0)}, 1.0, 0, &s);
    EXPECT_DOUBLE_EQ(procs[0].cpu_percent, 0.0);
    ASSERT_EQ(s.prev_count, 2);
    EXPECT_EQ(s.prev[0].pid, 8);
    EXPECT_EQ(s.prev[0].cpu_time, 1000u);

    collect(&procs, 4, {busy(8, 5001000), busy(12, 0), busy(16, 5000000)}, 1.0, 0, &s);
    EXPECT_DOUBLE_EQ(procs[0].cpu_percent, 50.0);
    EXPECT_DOUBLE_EQ(procs[2].cpu_percent, 0.0);
    EXPECT_EQ(s.prev_count, 3);
    EXPECT_EQ(s.prev[2].pid, 16);
}

TEST(DeriveProcess, UnreadTimesEnterTheTableAsZero) {
    std::vector<sysmon_proc_info> procs(2);
    proc_state s;
    fake_proc closed = busy(8, 9000000);
    closed.opens = false;
    collect(&procs, 2, {closed}, 1.0, 0, &s);
    ASSERT_EQ(s.prev_count, 1);
    EXPECT_EQ(s.prev[0].cpu_time, 0u);
    EXPECT_EQ(procs[0].memory_bytes, 0u);

    // Opened next time: measured against its whole lifetime.
    collect(&procs, 2, {busy(8, 9000000)}, 0.5, 0, &s);
    EXPECT_DOUBLE_EQ(procs[0].cpu_percent, 100.0);

    fake_proc no_times = busy(8, 9000000);
    no_times.has_times = false;
    collect(&procs, 2, {no_times}, 1.0, 0, &s);
    EXPECT_EQ(procs[0].memory_bytes, 4096u);
    EXPECT_EQ(procs[0].cpu_time, 0u);
    EXPECT_EQ(s.prev[0].cpu_time, 0u);
}

TEST(DeriveProcess, CapacityStopsReadingAndBoundsTheTable) {
    std::vector<fake_proc> many;
    for (uint32_t pid = 1; pid <= 2100; ++pid) many.push_back(busy(pid * 4, pid));
    std::vector<sysmon_proc_info> procs(SYSMON_MAX_PROCS);
    proc_state s;
    std::vector<uint32_t> opened;
    ASSERT_EQ(collect(&procs, SYSMON_MAX_PROCS, many, 1.0, 0, &s, &opened),
              SYSMON_MAX_PROCS);
    EXPECT_EQ(opened.size(), static_cast<size_t>(SYSMON_MAX_PROCS));
    EXPECT_EQ(procs[2047].pid, 2048 * 4);
    EXPECT_EQ(s.prev_count, SYSMON_MAX_PROCS);
    EXPECT_EQ(s.prev[2047].pid, 2048 * 4);

    opened.clear();
    EXPECT_EQ(collect(&procs, 0, many, 1.0, 0, &s, &opened), 0);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(s.prev_count, 0);

    collect(&procs, 2, many, 1.0, 0, &s);
    EXPECT_EQ(collect(&procs, -5, many, 1.0, 0, &s), 0);
    EXPECT_EQ(s.prev_count, 0);
}

TEST(DeriveProcess, RebuiltTableHoldsAtMostItsCapacity) {
    proc_state s;
    std::vector<sysmon_proc_info> records(2100);
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].pid = static_cast<int32_t>(i);
        records[i].cpu_time = i * 10;
    }
    derive_proc_rebuild_prev(s.prev.data(), &s.prev_count, records.data(), 2100);
    EXPECT_EQ(s.prev_count, SYSMON_MAX_PROCS);
    EXPECT_EQ(s.prev[2047].pid, 2047);
    EXPECT_EQ(s.prev[2047].cpu_time, 20470u);

    // No record read: the table is emptied.
    derive_proc_rebuild_prev(s.prev.data(), &s.prev_count, nullptr, 0);
    EXPECT_EQ(s.prev_count, 0);
}
