// The process, volume and interface walks over lists that grow: more
// entries than the lists and the counter tables hold at first are all
// listed with their rates, the grown size is kept, and when memory runs out
// the walk lists what fits, each entry whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "disk_walk.h"
#include "net_walk.h"
#include "proc_walk.h"
#include "record_list.h"
#include "runtime_hooks.h"

namespace {

int g_allocations = 0;
bool g_fail = false;

void *counted_alloc(size_t size) {
    ++g_allocations;
    return g_fail ? nullptr : sysmon_default_hooks.mem_alloc(size);
}
void *counted_realloc(void *block, size_t size) {
    ++g_allocations;
    return g_fail ? nullptr : sysmon_default_hooks.mem_realloc(block, size);
}

// Counts the allocations of the walks and fails them on request; restores
// the real allocator afterwards.
class WalkGrowth : public testing::Test {
protected:
    void SetUp() override {
        g_allocations = 0;
        g_fail = false;
        s_hooks.mem_alloc = counted_alloc;
        s_hooks.mem_realloc = counted_realloc;
    }
    void TearDown() override { s_hooks = sysmon_default_hooks; }
};

// A list that starts on fixed storage of `initial` records, as the
// library's lists do, and gives back what it grew to.
template <typename Record>
struct test_list {
    std::vector<Record> held;
    record_list<Record> list;
    explicit test_list(int32_t initial) : held(static_cast<size_t>(initial)) {
        list = {held.data(), 0, initial, 0};
    }
    ~test_list() {
        if (list.on_heap) s_hooks.mem_free(list.items);
    }
};

// One process collection over pids 4, 8, ... with `cpu_time` each.
void collect_procs(record_list<sysmon_proc_info> *list, proc_table tables[2], int *current,
                   used_records *used, int32_t processes, uint64_t cpu_time) {
    proc_walk walk;
    derive_proc_walk_begin(&walk, list, &tables[*current], &tables[1 - *current], 1.0, 0, used);
    for (int32_t i = 0; i < processes; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "p%d.exe", i);
        const proc_identity identity = {static_cast<uint32_t>(4 * (i + 1)), 4, 1, name, sizeof name};
        sysmon_proc_info *proc = derive_proc_walk_add(&walk, &identity);
        if (proc == nullptr) break;
        const proc_figures figures = {1, 4096, 1, 0, cpu_time, 1, 0, 0};
        derive_proc_apply_figures(&walk, proc, &figures);
    }
    derive_proc_walk_end(&walk, &list->count);
    *current = 1 - *current;
}

// Volume roots "V0000:\" ... as the collector hands them to the walk.
int32_t collect_disks(record_list<sysmon_disk_info> *list, disk_table tables[2], int *current,
                      int32_t volumes, uint64_t bytes_read) {
    std::vector<char> roots;
    for (int32_t i = 0; i < volumes; ++i) {
        char root[16];
        const int n = std::snprintf(root, sizeof root, "V%04d:\\", i);
        roots.insert(roots.end(), root, root + n + 1);
    }
    roots.push_back('\0');
    disk_walk walk;
    derive_disk_walk_begin(&walk, list, roots.data(), roots.size(), &tables[*current],
                           &tables[1 - *current], 1.0);
    const disk_io io = {1, bytes_read, 0};
    const char *root;
    while ((root = derive_disk_walk_next(&walk)) != nullptr)
        derive_disk_walk_add(&walk, root, 1000, 500, 400, "NTFS", &io);
    derive_disk_walk_end(&walk, &list->count);
    *current = 1 - *current;
    return list->count;
}

// Interfaces with LUIDs 1, 2, ..., each with an address 10.0.x.y.
int32_t collect_nets(record_list<sysmon_net_info> *list, net_table tables[2], int *current,
                     net_address_table *addresses, int32_t interfaces, uint64_t received) {
    derive_net_clear(list->items, &list->count, list->capacity);
    addresses->clear();
    for (int32_t i = 0; i < interfaces; ++i) {
        const uint8_t address[4] = {10, 0, static_cast<uint8_t>((i + 1) >> 8),
                                    static_cast<uint8_t>(i + 1)};
        derive_net_add_address(addresses, static_cast<uint64_t>(i + 1), address);
    }
    net_walk walk;
    derive_net_walk_begin(&walk, list, &tables[*current], &tables[1 - *current], addresses, 1.0);
    for (int32_t i = 0; i < interfaces && !derive_net_walk_full(&walk); ++i) {
        const std::string name = "adapter " + std::to_string(i);
        const net_row row = {static_cast<uint64_t>(i + 1), 6, 1, received, 0, name.c_str(),
                             name.size() + 1};
        derive_net_walk_row(&walk, &row);
    }
    derive_net_walk_end(&walk, &list->count);
    *current = 1 - *current;
    return list->count;
}

}  // namespace

TEST_F(WalkGrowth, TenThousandProcessesAreListedWithTheirSharesAndTheSizeIsKept) {
    test_list<sysmon_proc_info> procs(16);
    std::vector<proc_table> tables(2);
    int current = 0;
    used_records used = {};
    collect_procs(&procs.list, tables.data(), &current, &used, 10000, 0);
    ASSERT_EQ(procs.list.count, 10000);
    EXPECT_GE(procs.list.capacity, 10000);
    EXPECT_EQ(procs.list.items[9999].pid, 40000);
    EXPECT_STREQ(procs.list.items[9999].name, "p9999.exe");
    EXPECT_EQ(tables[current].count(), 10000);

    // Every process, past the tables' first 2048 rows too, is measured
    // against its own counters: 0.5 s over 1 s. Once both tables have
    // grown, a collection allocates nothing.
    collect_procs(&procs.list, tables.data(), &current, &used, 10000, 5000000);
    for (int32_t i = 0; i < 10000; ++i) ASSERT_DOUBLE_EQ(procs.list.items[i].cpu_percent, 50.0) << i;
    const int grown_allocations = g_allocations;
    collect_procs(&procs.list, tables.data(), &current, &used, 10000, 15000000);
    EXPECT_EQ(g_allocations, grown_allocations);
    for (int32_t i = 0; i < 10000; ++i) ASSERT_DOUBLE_EQ(procs.list.items[i].cpu_percent, 100.0) << i;

    // Fewer processes: the records of the rest are cleared, the size stays.
    const int32_t capacity = procs.list.capacity;
    collect_procs(&procs.list, tables.data(), &current, &used, 3000, 5000000);
    EXPECT_EQ(procs.list.count, 3000);
    EXPECT_EQ(procs.list.capacity, capacity);
    const sysmon_proc_info zero = {};
    for (int32_t i = 3000; i < 10000; ++i)
        ASSERT_EQ(std::memcmp(&procs.list.items[i], &zero, sizeof zero), 0) << i;
}

TEST_F(WalkGrowth, FailedProcessGrowthKeepsWhatFits) {
    // The list cannot grow: the first 16 are listed, whole.
    g_fail = true;
    test_list<sysmon_proc_info> small(16);
    std::vector<proc_table> tables(2);
    int current = 0;
    collect_procs(&small.list, tables.data(), &current, nullptr, 40, 0);
    ASSERT_EQ(small.list.count, 16);
    EXPECT_EQ(small.list.capacity, 16);
    EXPECT_EQ(small.list.items[15].pid, 64);
    EXPECT_STREQ(small.list.items[15].name, "p15.exe");
    EXPECT_EQ(small.list.items[15].memory_bytes, 4096u);

    // The list holds more but the counter table cannot grow past its 2048
    // rows: the walk stops there, so no process is listed without the
    // counters its next share needs.
    test_list<sysmon_proc_info> large(3000);
    std::vector<proc_table> own(2);
    current = 0;
    collect_procs(&large.list, own.data(), &current, nullptr, 2100, 0);
    ASSERT_EQ(large.list.count, 2048);
    collect_procs(&large.list, own.data(), &current, nullptr, 2100, 1000000);
    ASSERT_EQ(large.list.count, 2048);
    for (int32_t i = 0; i < 2048; ++i) ASSERT_DOUBLE_EQ(large.list.items[i].cpu_percent, 10.0) << i;
    const sysmon_proc_info zero = {};
    EXPECT_EQ(std::memcmp(&large.list.items[2048], &zero, sizeof zero), 0);
}

TEST_F(WalkGrowth, ThreeHundredVolumesAreListedWithTheirRates) {
    test_list<sysmon_disk_info> disks(SYSMON_MAX_DISKS);
    std::vector<disk_table> tables(2);
    int current = 0;
    ASSERT_EQ(collect_disks(&disks.list, tables.data(), &current, 300, 1000), 300);
    EXPECT_STREQ(disks.list.items[299].mount, "V0299:\\");
    ASSERT_EQ(collect_disks(&disks.list, tables.data(), &current, 300, 3000), 300);
    for (int32_t i = 0; i < 300; ++i) ASSERT_EQ(disks.list.items[i].read_bytes_sec, 2000u) << i;
    const int grown_allocations = g_allocations;
    ASSERT_EQ(collect_disks(&disks.list, tables.data(), &current, 300, 3500), 300);
    EXPECT_EQ(g_allocations, grown_allocations);
    for (int32_t i = 0; i < 300; ++i) ASSERT_EQ(disks.list.items[i].read_bytes_sec, 500u) << i;

    g_fail = true;
    test_list<sysmon_disk_info> fixed(SYSMON_MAX_DISKS);
    std::vector<disk_table> own(2);
    current = 0;
    ASSERT_EQ(collect_disks(&fixed.list, own.data(), &current, 300, 1000), SYSMON_MAX_DISKS);
    EXPECT_STREQ(fixed.list.items[SYSMON_MAX_DISKS - 1].mount, "V0127:\\");
    EXPECT_EQ(fixed.list.items[SYSMON_MAX_DISKS - 1].total, 1000u);
}

TEST_F(WalkGrowth, ThreeHundredInterfacesAreListedWithAddressesAndRates) {
    test_list<sysmon_net_info> nets(SYSMON_MAX_NETS);
    std::vector<net_table> tables(2);
    net_address_table addresses = {};
    int current = 0;
    ASSERT_EQ(collect_nets(&nets.list, tables.data(), &current, &addresses, 300, 100), 300);
    EXPECT_STREQ(nets.list.items[299].name, "adapter 299");
    EXPECT_STREQ(nets.list.items[299].ip, "10.0.1.44");
    ASSERT_EQ(collect_nets(&nets.list, tables.data(), &current, &addresses, 300, 700), 300);
    for (int32_t i = 0; i < 300; ++i) ASSERT_EQ(nets.list.items[i].down_bytes_sec, 600u) << i;
    const int grown_allocations = g_allocations;
    ASSERT_EQ(collect_nets(&nets.list, tables.data(), &current, &addresses, 300, 800), 300);
    EXPECT_EQ(g_allocations, grown_allocations);
    for (int32_t i = 0; i < 300; ++i) ASSERT_EQ(nets.list.items[i].down_bytes_sec, 100u) << i;

    g_fail = true;
    test_list<sysmon_net_info> fixed(SYSMON_MAX_NETS);
    std::vector<net_table> own(2);
    net_address_table own_addresses = {};
    current = 0;
    ASSERT_EQ(collect_nets(&fixed.list, own.data(), &current, &own_addresses, 300, 100),
              SYSMON_MAX_NETS);
    EXPECT_STREQ(fixed.list.items[SYSMON_MAX_NETS - 1].name, "adapter 63");
    EXPECT_STREQ(fixed.list.items[SYSMON_MAX_NETS - 1].ip, "10.0.0.64");
}
