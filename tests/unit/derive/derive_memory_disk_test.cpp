// Memory figures, and the volume walk with its acceptance and fill rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "derive.h"

namespace {

constexpr uint64_t GIB = 1024ull * 1024 * 1024;

// What the system answers for one root path. A null fs means the
// file-system query failed.
struct fake_volume {
    uint32_t type;
    bool has_space;
    uint64_t total;
    uint64_t free;
    const char *fs;
};

// Builds a root-path list: each path with its NUL, then an empty text.
std::vector<char> root_list(const std::vector<std::string> &paths, size_t size) {
    std::vector<char> list(size, '\0');
    size_t at = 0;
    for (const std::string &p : paths) {
        std::memcpy(list.data() + at, p.c_str(), p.size() + 1);
        at += p.size() + 1;
    }
    return list;
}

// Walks the list as the collector does, answering from `volumes` in order.
int32_t collect(sysmon_disk_info *disks, int32_t capacity,
                const std::vector<char> &list,
                const std::vector<fake_volume> &volumes,
                std::vector<std::string> *asked_space = nullptr) {
    int32_t count = -7;
    disk_walk walk;
    derive_disk_walk_begin(&walk, disks, &count, capacity, list.data(), list.size());
    EXPECT_EQ(count, 0);
    size_t i = 0;
    const char *root;
    while ((root = derive_disk_walk_next(&walk)) != nullptr) {
        const fake_volume &v = volumes.at(i++);
        if (!derive_disk_type_accepted(v.type)) continue;
        if (asked_space != nullptr) asked_space->push_back(root);
        if (!v.has_space) continue;
        derive_disk_walk_add(&walk, root, v.total, v.free, v.fs);
    }
    derive_disk_walk_end(&walk, &count);
    return count;
}

}  // namespace

TEST(DeriveMem, FiguresFromStatus) {
    sysmon_mem_info mem;
    const mem_readings r = {1, 8 * GIB, 3 * GIB, 12 * GIB, 10 * GIB};
    derive_mem(&mem, &r);
    EXPECT_EQ(mem.total, 8 * GIB);
    EXPECT_EQ(mem.used, 5 * GIB);
    EXPECT_EQ(mem.available, 3 * GIB);
    EXPECT_EQ(mem.cached, 0u);
    EXPECT_EQ(mem.swap_total, 12 * GIB);
    EXPECT_EQ(mem.swap_used, 2 * GIB);

    // Available above total never wraps.
    const mem_readings odd = {1, 3 * GIB, 4 * GIB, 1 * GIB, 2 * GIB};
    derive_mem(&mem, &odd);
    EXPECT_EQ(mem.used, 0u);
    EXPECT_EQ(mem.swap_used, 0u);
}

TEST(DeriveMem, FailedQueryGivesZeros) {
    sysmon_mem_info mem;
    std::memset(&mem, 0xAB, sizeof mem);
    const mem_readings r = {0, 8 * GIB, 3 * GIB, 12 * GIB, 10 * GIB};
    derive_mem(&mem, &r);
    const sysmon_mem_info zero = {};
    EXPECT_EQ(std::memcmp(&mem, &zero, sizeof mem), 0);
}

TEST(DeriveDisks, ListsFixedAndRemovableVolumesWithSpaceInOrder) {
    sysmon_disk_info disks[8];
    std::memset(disks, 0xAB, sizeof disks);
    const auto list = root_list({"C:\\", "D:\\", "E:\\", "F:\\", "Z:\\"},
                                SYSMON_DISK_ROOT_LIST_SIZE);
    std::vector<std::string> asked;
    const int32_t count = collect(disks, 8, list,
                                  {{3, true, 500, 200, "NTFS"},
                                   {5, true, 700, 0, "CDFS"},   // optical
                                   {2, false, 0, 0, nullptr},   // no medium
                                   {2, true, 64, 16, "exFAT"},
                                   {4, true, 900, 9, "NTFS"}},  // network
                                  &asked);
    ASSERT_EQ(count, 2);
    // Space is asked only for accepted drive types.
    EXPECT_EQ(asked, (std::vector<std::string>{"C:\\", "E:\\", "F:\\"}));
    EXPECT_STREQ(disks[0].name, "C:");
    EXPECT_STREQ(disks[0].mount, "C:\\");
    EXPECT_STREQ(disks[0].fs, "NTFS");
    EXPECT_EQ(disks[0].total, 500u);
    EXPECT_EQ(disks[0].free, 200u);
    EXPECT_EQ(disks[0].used, 300u);
    EXPECT_STREQ(disks[1].name, "F:");
    EXPECT_STREQ(disks[1].fs, "exFAT");
    EXPECT_EQ(disks[1].used, 48u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(disks[i].read_bytes_sec, 0u);
        EXPECT_EQ(disks[i].write_bytes_sec, 0u);
    }
    // Nothing stale remains behind the count.
    const sysmon_disk_info zero = {};
    for (int i = 2; i < 8; ++i)
        EXPECT_EQ(std::memcmp(&disks[i], &zero, sizeof zero), 0) << i;
}

TEST(DeriveDisks, OnlyDriveTypesTwoAndThreeAreAccepted) {
    for (uint32_t type = 0; type < 8; ++type)
        EXPECT_EQ(derive_disk_type_accepted(type), type == 2 || type == 3) << type;
}

TEST(DeriveDisks, CapacityStopsTheWalk) {
    sysmon_disk_info disks[2];
    const auto list = root_list({"C:\\", "D:\\"}, SYSMON_DISK_ROOT_LIST_SIZE);
    const std::vector<fake_volume> two = {{3, true, 10, 1, "NTFS"},
                                          {3, true, 20, 2, "NTFS"}};
    EXPECT_EQ(collect(disks, 1, list, two), 1);
    EXPECT_STREQ(disks[0].name, "C:");

    std::vector<std::string> asked;
    EXPECT_EQ(collect(disks, 0, list, two, &asked), 0);
    EXPECT_TRUE(asked.empty());

    // A negative capacity is no room at all and clears nothing.
    std::memset(disks, 0xAB, sizeof disks);
    EXPECT_EQ(collect(disks, -3, list, two), 0);
    EXPECT_EQ(static_cast<unsigned char>(disks[0].name[0]), 0xABu);
}

TEST(DeriveDisks, FileSystemNameFallbackAndEmptyName) {
    sysmon_disk_info disks[2];
    const auto list = root_list({"C:\\", "D:\\"}, SYSMON_DISK_ROOT_LIST_SIZE);
    ASSERT_EQ(collect(disks, 2, list,
                      {{3, true, 10, 20, nullptr}, {2, true, 10, 5, ""}}),
              2);
    EXPECT_STREQ(disks[0].fs, "NTFS");
    EXPECT_EQ(disks[0].used, 0u);  // free above total
    EXPECT_STREQ(disks[1].fs, "");
}

TEST(DeriveDisks, LongPathsAreCut) {
    sysmon_disk_info disks[1];
    const std::string path = "Q:\\" + std::string(300, 'p');
    const auto list = root_list({path}, 600);
    ASSERT_EQ(collect(disks, 1, list, {{3, true, 1, 0, "NTFS"}}), 1);
    EXPECT_EQ(std::string(disks[0].mount), path.substr(0, 255));
    EXPECT_STREQ(disks[0].name, "Q:");
}

TEST(DeriveDisks, WalkStaysInsideTheBuffer) {
    disk_walk walk;
    sysmon_disk_info disks[4];
    int32_t count = 0;

    const auto empty = root_list({}, SYSMON_DISK_ROOT_LIST_SIZE);
    derive_disk_walk_begin(&walk, disks, &count, 4, empty.data(), empty.size());
    EXPECT_EQ(derive_disk_walk_next(&walk), nullptr);

    // The last path runs to the end of the buffer without a NUL: it is not
    // handed out.
    const char unterminated[] = {'C', ':', '\\', '\0', 'D', ':', '\\'};
    derive_disk_walk_begin(&walk, disks, &count, 4, unterminated, sizeof unterminated);
    EXPECT_STREQ(derive_disk_walk_next(&walk), "C:\\");
    EXPECT_EQ(derive_disk_walk_next(&walk), nullptr);
    EXPECT_EQ(derive_disk_walk_next(&walk), nullptr);
}
