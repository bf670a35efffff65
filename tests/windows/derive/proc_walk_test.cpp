// Process identity, memory share, processor share and transfer rates
// against the counters of the same pid, the status rule, and the walk.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "proc_walk.h"

namespace {

// What the system answers for one process.
struct fake_proc {
    uint32_t pid;
    std::string exe = "app.exe";
    proc_figures figures = {1, 4096, 1, 0, 0, 1, 0, 0};
};

fake_proc busy(uint32_t pid, uint64_t cpu_time, uint64_t read = 0, uint64_t written = 0) {
    fake_proc f{pid};
    f.figures.kernel_time = cpu_time / 2;
    f.figures.user_time = cpu_time - cpu_time / 2;
    f.figures.read_transfer = read;
    f.figures.write_transfer = written;
    return f;
}

// The collector state kept between collections: two tables, used in turn.
struct proc_state {
    std::unique_ptr<proc_table[]> tables = std::make_unique<proc_table[]>(2);
    int current = 0;
    const proc_table &newest() const { return tables[current]; }
};

int32_t collect(std::vector<sysmon_proc_info> *procs, int32_t capacity,
                const std::vector<fake_proc> &list, double elapsed, uint64_t memory_total,
                proc_state *s) {
    int32_t count = -1;
    proc_walk walk;
    derive_proc_walk_begin(&walk, procs->data(), &count, capacity, &s->tables[s->current],
                           &s->tables[1 - s->current], elapsed, memory_total);
    EXPECT_EQ(count, 0);
    for (const fake_proc &f : list) {
        const proc_identity identity = {f.pid, 4, 3, f.exe.c_str(), f.exe.size() + 1};
        sysmon_proc_info *proc = derive_proc_walk_add(&walk, &identity);
        if (proc == nullptr) break;
        derive_proc_apply_figures(&walk, proc, &f.figures);
    }
    derive_proc_walk_end(&walk, &count);
    s->current = 1 - s->current;
    return count;
}

}  // namespace

TEST(DeriveProcess, IdentityFieldsAndTheSystemsOwnProcesses) {
    std::vector<sysmon_proc_info> procs(5);
    std::memset(procs.data(), 0xAB, sizeof procs[0] * procs.size());
    proc_state s;
    ASSERT_EQ(collect(&procs, 5, {{0, ""}, {4, "System"}, busy(8, 100)}, 1.0, 1000, &s), 3);
    EXPECT_EQ(procs[0].pid, 0);
    EXPECT_EQ(procs[0].ppid, 4);
    EXPECT_EQ(procs[0].threads, 3);
    EXPECT_STREQ(procs[0].name, "[System Process]");
    EXPECT_STREQ(procs[0].command, "[System Process]");
    EXPECT_STREQ(procs[0].user, "SYSTEM");
    EXPECT_STREQ(procs[1].user, "SYSTEM");
    EXPECT_STREQ(procs[2].user, "");  // until the owner is read
    EXPECT_STREQ(procs[2].command, "app.exe");
    EXPECT_STREQ(procs[2].status, "running");
    EXPECT_EQ(procs[2].memory_bytes, 4096u);
    EXPECT_EQ(procs[2].cpu_time, 100u);
    const sysmon_proc_info zero = {};
    EXPECT_EQ(std::memcmp(&procs[3], &zero, sizeof zero), 0);
    EXPECT_EQ(std::memcmp(&procs[4], &zero, sizeof zero), 0);
    EXPECT_TRUE(derive_proc_is_system(0));
    EXPECT_TRUE(derive_proc_is_system(4));
    EXPECT_FALSE(derive_proc_is_system(8));
}

TEST(DeriveProcess, TextsAreCutPerFieldAtCharacterBoundaries) {
    sysmon_proc_info proc = {};
    const std::string exe(200, 'e');
    proc_identity identity = {7, 1, 1, exe.c_str(), exe.size() + 1};
    derive_proc_fill_identity(&proc, &identity);
    EXPECT_EQ(std::string(proc.name), exe.substr(0, 127));
    EXPECT_EQ(std::string(proc.command), exe);

    // "Zürich-é.exe" with the 4-byte character U+1D11E at byte 125: it
    // would end at byte 129, past the name's 127.
    const std::string tight = std::string(125, 'z') + "\xF0\x9D\x84\x9E.exe";
    identity = {7, 1, 1, tight.c_str(), tight.size() + 1};
    derive_proc_fill_identity(&proc, &identity);
    EXPECT_EQ(std::string(proc.name), std::string(125, 'z'));
    EXPECT_EQ(std::string(proc.command), tight);

    const std::string command = std::string(1021, 'c') + "\xC3\xBC";  // ü ends at 1023
    derive_proc_set_command(&proc, command.c_str(), command.size() + 1);
    EXPECT_EQ(std::string(proc.command), command);
    const std::string longer = std::string(1022, 'c') + "\xC3\xBC";  // would end at 1024
    derive_proc_set_command(&proc, longer.c_str(), longer.size() + 1);
    EXPECT_EQ(std::string(proc.command), std::string(1022, 'c'));
    derive_proc_set_command(&proc, "", 1);  // nothing read: the command stays
    EXPECT_EQ(std::string(proc.command), std::string(1022, 'c'));

    derive_proc_set_user(&proc, "Jürgen");
    EXPECT_STREQ(proc.user, "Jürgen");
    const std::string user = std::string(62, 'u') + "\xC3\xA9";
    derive_proc_set_user(&proc, user.c_str());
    EXPECT_EQ(std::string(proc.user), std::string(62, 'u'));
}

TEST(DeriveProcess, StatusFollowsTheSuspendedRule) {
    sysmon_proc_info proc = {};
    derive_proc_set_status(&proc, 1);
    EXPECT_STREQ(proc.status, "stopped");
    derive_proc_set_status(&proc, 0);
    EXPECT_STREQ(proc.status, "running");
}

TEST(DeriveProcess, MemoryShare) {
    std::vector<sysmon_proc_info> procs(1);
    proc_state s;
    fake_proc f{9};
    f.figures.working_set = 1073741824ull;
    collect(&procs, 1, {f}, 1.0, 8589934592ull, &s);
    EXPECT_EQ(procs[0].memory_bytes, 1073741824u);
    EXPECT_DOUBLE_EQ(procs[0].memory_percent, 12.5);
    collect(&procs, 1, {f}, 1.0, 0, &s);
    EXPECT_EQ(procs[0].memory_bytes, 1073741824u);
    EXPECT_DOUBLE_EQ(procs[0].memory_percent, 0.0);
}

TEST(DeriveProcess, ShareAndRatesAgainstTheSamePid) {
    std::vector<sysmon_proc_info> procs(4);
    proc_state s;
    collect(&procs, 4, {busy(10, 1000, 100, 0), busy(20, 0), busy(30, 9000000)}, 1.0, 0, &s);
    EXPECT_DOUBLE_EQ(procs[0].cpu_percent, 0.0);  // first collection
    EXPECT_EQ(procs[0].read_bytes_sec, 0u);

    // Listed in another order: each record meets its own pid's counters.
    collect(&procs, 4,
            {busy(30, 100), busy(40, 50000000), busy(20, 30000000), busy(10, 5001000, 4100, 2000)},
            2.0, 0, &s);
    EXPECT_DOUBLE_EQ(procs[0].cpu_percent, 0.0);   // pid reused with less time
    EXPECT_DOUBLE_EQ(procs[1].cpu_percent, 0.0);   // new process
    EXPECT_DOUBLE_EQ(procs[2].cpu_percent, 100.0); // 3 s in 2 s: capped
    EXPECT_DOUBLE_EQ(procs[3].cpu_percent, 25.0);
    EXPECT_EQ(procs[3].read_bytes_sec, 2000u);
    EXPECT_EQ(procs[3].write_bytes_sec, 1000u);

    // The window's floor: no share, no rates, but the counters move on.
    collect(&procs, 4, {busy(10, 6001000, 9000, 3000)}, 0.001, 0, &s);
    EXPECT_DOUBLE_EQ(procs[0].cpu_percent, 0.0);
    EXPECT_EQ(procs[0].read_bytes_sec, 0u);
    collect(&procs, 4, {busy(10, 7001000, 8000, 4000)}, 1.0, 0, &s);
    EXPECT_DOUBLE_EQ(procs[0].cpu_percent, 10.0);
    EXPECT_EQ(procs[0].read_bytes_sec, 0u);  // went down
    EXPECT_EQ(procs[0].write_bytes_sec, 1000u);
}

TEST(DeriveProcess, UnreadFiguresLeaveNoCountersSoNoLifetimeBurst) {
    std::vector<sysmon_proc_info> procs(2);
    proc_state s;
    fake_proc closed = busy(8, 9000000, 5000, 5000);
    closed.figures = {};  // not opened: nothing read
    collect(&procs, 2, {closed}, 1.0, 0, &s);
    EXPECT_EQ(procs[0].memory_bytes, 0u);
    EXPECT_EQ(procs[0].cpu_time, 0u);
    EXPECT_EQ(s.newest().find(8), nullptr);

    // Read next time: nothing to compare with, so no share, not 100.
    collect(&procs, 2, {busy(8, 9000000, 5000, 5000)}, 0.5, 0, &s);
    EXPECT_DOUBLE_EQ(procs[0].cpu_percent, 0.0);
    EXPECT_EQ(procs[0].read_bytes_sec, 0u);

    // Times read, transfer counts not: the share is derived, the rates are
    // not, and the next rates do not measure against a missing count.
    fake_proc no_io = busy(8, 10000000);
    no_io.figures.has_io = 0;
    collect(&procs, 2, {no_io}, 1.0, 0, &s);
    EXPECT_DOUBLE_EQ(procs[0].cpu_percent, 10.0);
    collect(&procs, 2, {busy(8, 10000000, 9000, 9000)}, 1.0, 0, &s);
    EXPECT_EQ(procs[0].read_bytes_sec, 0u);
}

TEST(DeriveProcess, CapacityStopsReadingAndTheTableFindsEveryPid) {
    std::vector<fake_proc> many;
    for (uint32_t pid = 1; pid <= 2100; ++pid) many.push_back(busy(pid * 4, pid * 1000));
    std::vector<sysmon_proc_info> procs(SYSMON_MAX_PROCS);
    proc_state s;
    ASSERT_EQ(collect(&procs, SYSMON_MAX_PROCS, many, 1.0, 0, &s), SYSMON_MAX_PROCS);
    EXPECT_EQ(procs[2047].pid, 2048 * 4);
    EXPECT_EQ(s.newest().count(), SYSMON_MAX_PROCS);
    for (uint32_t pid = 1; pid <= 2048; ++pid) {
        const counter_row *row = s.newest().find(pid * 4);
        ASSERT_NE(row, nullptr) << pid;
        EXPECT_EQ(row->values[0], pid * 1000u);
    }
    EXPECT_EQ(s.newest().find(2049 * 4), nullptr);

    for (fake_proc &f : many) f.figures.user_time += 1000000;
    collect(&procs, SYSMON_MAX_PROCS, many, 1.0, 0, &s);
    for (int32_t i = 0; i < SYSMON_MAX_PROCS; ++i) ASSERT_DOUBLE_EQ(procs[i].cpu_percent, 10.0);

    EXPECT_EQ(collect(&procs, 0, many, 1.0, 0, &s), 0);
    EXPECT_EQ(s.newest().count(), 0);
    EXPECT_EQ(collect(&procs, -5, many, 1.0, 0, &s), 0);
}
