// The volume walk with its acceptance and fill rules and its transfer
// rates.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "disk_walk.h"

namespace {

// What the system answers for one root path. A null fs means the
// file-system query failed.
struct fake_volume {
    uint32_t type;
    bool has_space;
    uint64_t total;
    uint64_t free;
    const char *fs;
    disk_io io = {};
};

// The transfer counters kept between collections.
struct disk_state {
    disk_table tables[2] = {};
    int current = 0;
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
                std::vector<std::string> *asked_space = nullptr,
                disk_state *state = nullptr, double elapsed = 1.0) {
    static disk_state scratch;
    disk_state *s = state != nullptr ? state : &scratch;
    int32_t count = -7;
    disk_walk walk;
    derive_disk_walk_begin(&walk, disks, &count, capacity, list.data(), list.size(),
                           &s->tables[s->current], &s->tables[1 - s->current], elapsed);
    EXPECT_EQ(count, 0);
    size_t i = 0;
    const char *root;
    while ((root = derive_disk_walk_next(&walk)) != nullptr) {
        const fake_volume &v = volumes.at(i++);
        if (!derive_disk_type_accepted(v.type)) continue;
        if (asked_space != nullptr) asked_space->push_back(root);
        if (!v.has_space) continue;
        derive_disk_walk_add(&walk, root, v.total, v.free, v.free / 2, v.fs, &v.io);
    }
    derive_disk_walk_end(&walk, &count);
    s->current = 1 - s->current;
    return count;
}

}  // namespace

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
    EXPECT_EQ(disks[0].available, 100u);  // the caller's free bytes
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
    disk_table prev = {}, next = {};
    derive_disk_walk_begin(&walk, disks, &count, 4, empty.data(), empty.size(), &prev, &next,
                           1.0);
    EXPECT_EQ(derive_disk_walk_next(&walk), nullptr);

    // The last path runs to the end of the buffer without a NUL: it is not
    // handed out.
    const char unterminated[] = {'C', ':', '\\', '\0', 'D', ':', '\\'};
    derive_disk_walk_begin(&walk, disks, &count, 4, unterminated, sizeof unterminated, &prev,
                           &next, 1.0);
    EXPECT_STREQ(derive_disk_walk_next(&walk), "C:\\");
    EXPECT_EQ(derive_disk_walk_next(&walk), nullptr);
    EXPECT_EQ(derive_disk_walk_next(&walk), nullptr);
}

TEST(DeriveDisks, TransferRatesAgainstTheSameVolume) {
    disk_state s;
    sysmon_disk_info disks[3];
    const auto list = root_list({"C:\\", "D:\\", "E:\\"}, SYSMON_DISK_ROOT_LIST_SIZE);
    auto volume = [](bool answered, uint64_t read, uint64_t written) {
        fake_volume v{3, true, 10, 5, "NTFS"};
        v.io = {answered ? 1 : 0, read, written};
        return v;
    };
    collect(disks, 3, list, {volume(true, 1000, 5000), volume(false, 0, 0), volume(true, 0, 0)},
            nullptr, &s);
    EXPECT_EQ(disks[0].read_bytes_sec, 0u);  // first reading: nothing to compare

    collect(disks, 3, list,
            {volume(true, 3000, 5500), volume(true, 900, 900), volume(true, 7, 0)}, nullptr, &s,
            2.0);
    EXPECT_EQ(disks[0].read_bytes_sec, 1000u);
    EXPECT_EQ(disks[0].write_bytes_sec, 250u);
    EXPECT_EQ(disks[0].total_read, 3000u);  // the counters themselves
    EXPECT_EQ(disks[0].total_written, 5500u);
    EXPECT_EQ(disks[1].read_bytes_sec, 0u);  // unanswered last time
    EXPECT_EQ(disks[2].read_bytes_sec, 3u);

    // Unanswered now: 0; a counter that went down: 0; the window's floor.
    collect(disks, 3, list, {volume(false, 0, 0), volume(true, 100, 1900), volume(true, 9, 9)},
            nullptr, &s, 1.0);
    EXPECT_EQ(disks[0].read_bytes_sec, 0u);
    EXPECT_EQ(disks[0].total_read, 0u);  // unanswered: no counters
    EXPECT_EQ(disks[1].read_bytes_sec, 0u);
    EXPECT_EQ(disks[1].write_bytes_sec, 1000u);
    collect(disks, 3, list, {volume(true, 0, 0), volume(true, 200, 2000), volume(true, 99, 99)},
            nullptr, &s, 0.001);
    EXPECT_EQ(disks[1].read_bytes_sec, 0u);
    EXPECT_EQ(disks[2].read_bytes_sec, 0u);
}
