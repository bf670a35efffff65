// Collections clear only the entries the previous one filled: a shorter
// collection leaves nothing stale in the entries it fills or in those it
// no longer fills, and the entries past what was ever filled are neither
// read nor written (a pattern put there stays).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "disk_walk.h"
#include "net_walk.h"
#include "proc_walk.h"

namespace {

constexpr unsigned char kUntouched = 0xAB;

template <typename Record>
bool all_bytes(const Record &r, unsigned char value) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(&r);
    for (size_t i = 0; i < sizeof r; ++i)
        if (p[i] != value) return false;
    return true;
}

// Collects `names` into `procs`, with `command` as every command line, or
// the name when empty. Long texts leave long texts behind.
int32_t collect_procs(sysmon_proc_info *procs, int32_t capacity, used_records *used,
                      proc_table *prev, proc_table *next, const std::vector<std::string> &names,
                      const std::string &command = "") {
    int32_t count = -1;
    proc_walk walk;
    derive_proc_walk_begin(&walk, procs, &count, capacity, prev, next, 1.0, 1000, used);
    uint32_t pid = 8;
    for (const std::string &name : names) {
        const proc_identity identity = {pid, 4, 2, name.c_str(), name.size() + 1};
        sysmon_proc_info *proc = derive_proc_walk_add(&walk, &identity);
        const proc_figures figures = {1, 100, 1, pid * 10u, pid, 1, 5, 6};
        derive_proc_apply_figures(&walk, proc, &figures);
        const std::string &line = command.empty() ? name : command;
        derive_proc_set_command(proc, line.c_str(), line.size() + 1);
        pid += 4;
    }
    derive_proc_walk_end(&walk, &count);
    return count;
}

}  // namespace

TEST(UsedRecords, AShorterProcessCollectionLeavesNothingStale) {
    auto procs = std::make_unique<sysmon_proc_info[]>(SYSMON_MAX_PROCS);
    std::memset(procs.get(), kUntouched, sizeof procs[0] * SYSMON_MAX_PROCS);
    auto tables = std::make_unique<proc_table[]>(3);
    used_records used = {};

    // The first collection into an array clears all of it. The short
    // command lines are written over the long names first put there.
    const std::vector<std::string> long_names(10, std::string(1000, 'L'));
    ASSERT_EQ(collect_procs(procs.get(), SYSMON_MAX_PROCS, &used, &tables[0], &tables[1], long_names,
                            "x"),
              10);
    EXPECT_EQ(used.count, 10);
    for (int32_t i = 10; i < SYSMON_MAX_PROCS; ++i) ASSERT_TRUE(all_bytes(procs[i], 0)) << i;

    // Past the filled entries nothing is read or written from now on.
    std::memset(&procs[10], kUntouched, sizeof procs[0] * (SYSMON_MAX_PROCS - 10));

    // Four short ones: byte for byte what a fresh zeroed array receives
    // from the same collection, and the six left over read zero.
    const std::vector<std::string> short_names = {"a", "bb", "c", "d"};
    ASSERT_EQ(collect_procs(procs.get(), SYSMON_MAX_PROCS, &used, &tables[1], &tables[0], short_names), 4);
    auto fresh = std::make_unique<sysmon_proc_info[]>(4);
    std::memset(fresh.get(), 0, sizeof fresh[0] * 4);
    used_records fresh_used = {};
    ASSERT_EQ(collect_procs(fresh.get(), 4, &fresh_used, &tables[1], &tables[2], short_names), 4);
    EXPECT_EQ(std::memcmp(procs.get(), fresh.get(), sizeof fresh[0] * 4), 0);
    for (int32_t i = 4; i < 10; ++i) EXPECT_TRUE(all_bytes(procs[i], 0)) << i;
    for (int32_t i = 10; i < SYSMON_MAX_PROCS; ++i) ASSERT_TRUE(all_bytes(procs[i], kUntouched)) << i;
    EXPECT_EQ(used.count, 4);

    // Another array under the same note is cleared whole.
    auto other = std::make_unique<sysmon_proc_info[]>(SYSMON_MAX_PROCS);
    std::memset(other.get(), kUntouched, sizeof other[0] * SYSMON_MAX_PROCS);
    ASSERT_EQ(collect_procs(other.get(), SYSMON_MAX_PROCS, &used, &tables[0], &tables[1], short_names), 4);
    for (int32_t i = 4; i < SYSMON_MAX_PROCS; ++i) ASSERT_TRUE(all_bytes(other[i], 0)) << i;
}

TEST(UsedRecords, ShorterDiskAndNetworkCollectionsLeaveNothingStale) {
    constexpr int32_t kCap = 8;
    std::vector<sysmon_disk_info> disks(kCap);
    std::memset(disks.data(), kUntouched, sizeof disks[0] * kCap);
    auto disk_tables = std::make_unique<disk_table[]>(2);
    used_records disks_used = {};
    auto collect_disks = [&](const std::string &list, int t) {
        int32_t count = -1;
        disk_walk walk;
        derive_disk_walk_begin(&walk, disks.data(), &count, kCap, list.data(), list.size(),
                               &disk_tables[t], &disk_tables[1 - t], 1.0, &disks_used);
        const disk_io io = {1, 10, 20};
        while (const char *root = derive_disk_walk_next(&walk))
            derive_disk_walk_add(&walk, root, 100, 40, "exFAT", &io);
        derive_disk_walk_end(&walk, &count);
        return count;
    };
    ASSERT_EQ(collect_disks(std::string("C:\\\0D:\\\0E:\\\0\0", 13), 0), 3);
    std::memset(&disks[3], kUntouched, sizeof disks[0] * (kCap - 3));
    ASSERT_EQ(collect_disks(std::string("Z:\\\0\0", 5), 1), 1);
    EXPECT_STREQ(disks[0].mount, "Z:\\");
    EXPECT_TRUE(all_bytes(disks[1], 0));
    EXPECT_TRUE(all_bytes(disks[2], 0));
    for (int32_t i = 3; i < kCap; ++i) EXPECT_TRUE(all_bytes(disks[i], kUntouched)) << i;

    std::vector<sysmon_net_info> nets(kCap);
    std::memset(nets.data(), kUntouched, sizeof nets[0] * kCap);
    auto net_tables = std::make_unique<net_table[]>(2);
    used_records nets_used = {};
    auto collect_nets = [&](int rows, int t) {
        int32_t count = -1;
        derive_net_clear(nets.data(), &count, kCap, &nets_used);
        net_walk walk;
        derive_net_walk_begin(&walk, nets.data(), kCap, &net_tables[t], &net_tables[1 - t],
                              nullptr, 1.0, &nets_used);
        static const char kName[] = "Ethernet adapter";
        for (int i = 0; i < rows; ++i) {
            const net_row row = {static_cast<uint64_t>(i + 1), 6, 1, 5, 7, kName, sizeof kName};
            derive_net_walk_row(&walk, &row);
        }
        derive_net_walk_end(&walk, &count);
        return count;
    };
    ASSERT_EQ(collect_nets(3, 0), 3);
    std::memset(&nets[3], kUntouched, sizeof nets[0] * (kCap - 3));
    ASSERT_EQ(collect_nets(1, 1), 1);
    EXPECT_EQ(nets[0].total_sent, 7u);
    EXPECT_TRUE(all_bytes(nets[1], 0));
    EXPECT_TRUE(all_bytes(nets[2], 0));
    for (int32_t i = 3; i < kCap; ++i) EXPECT_TRUE(all_bytes(nets[i], kUntouched)) << i;
    // Nothing listed at all: what the last one filled is cleared.
    int32_t count = -1;
    derive_net_clear(nets.data(), &count, kCap, &nets_used);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(all_bytes(nets[0], 0));
}
