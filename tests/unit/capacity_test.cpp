// Lists grow with what the collectors find: big machines are listed whole,
// byte for byte as the straightforward writer lists them, the lists keep
// their size (no allocation in a steady state), and a growth that fails
// keeps what fits.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <string>

#include "library_fixture.h"
#include "oracle_views.h"
#include "process_view.h"
#include "snapshot.h"
#include "strbuf.h"
#include "sysmon_internal.h"

namespace {

class CapacityTest : public LibraryTest {};

void make_machine(int32_t processes, int32_t volumes, int32_t interfaces) {
    g_fake.procs.clear();
    for (int32_t i = 0; i < processes; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "p%d", i % 97);
        g_fake.procs.push_back(fake_process(i + 1, i / 7, name, static_cast<double>(i % 13) * 7.5,
                                            static_cast<uint64_t>(i) * 4096));
    }
    g_fake.disks.assign(static_cast<size_t>(volumes), sysmon_disk_info{});
    for (int32_t i = 0; i < volumes; ++i) std::snprintf(g_fake.disks[i].mount, 16, "/v%d", i);
    g_fake.nets.assign(static_cast<size_t>(interfaces), sysmon_net_info{});
    for (int32_t i = 0; i < interfaces; ++i) std::snprintf(g_fake.nets[i].name, 16, "veth%d", i);
}

std::string written(void (*write)(strbuf *, int32_t, int32_t), int32_t a, int32_t b) {
    strbuf sb{};
    strbuf_init(&sb, 1024);
    write(&sb, a, b);
    std::string out(sb.data, sb.len);
    strbuf_free(&sb);
    return out;
}

TEST_F(CapacityTest, BigMachinesAreListedWholeAsTheStraightforwardWriterListsThem) {
    make_machine(10000, 300, 200);
    const nlohmann::json list = nlohmann::json::parse(sysmon_processes(0, 2));
    ASSERT_EQ(list.size(), 10000u);
    for (size_t i = 0; i < list.size(); ++i) ASSERT_EQ(list[i]["pid"], i + 1);
    EXPECT_EQ(nlohmann::json::parse(sysmon_disks()).size(), 300u);
    EXPECT_EQ(nlohmann::json::parse(sysmon_network()).size(), 200u);
    const nlohmann::json snapshot = nlohmann::json::parse(sysmon_snapshot());
    EXPECT_EQ(snapshot["disks"].size(), 300u);
    EXPECT_EQ(snapshot["network"].size(), 200u);

    // The views of the whole list, and so of its first 2048, are the
    // straightforward writer's, byte for byte.
    for (int32_t sort_by : {0, 1, 2, 3}) {
        const std::string mine = written([](strbuf *sb, int32_t l, int32_t s) { serialize_process_list(sb, l, s); }, 0, sort_by);
        const std::string theirs = written([](strbuf *sb, int32_t l, int32_t s) { oracle::process_list(sb, l, s); }, 0, sort_by);
        EXPECT_EQ(mine, theirs) << sort_by;
    }
    const std::string tree = written([](strbuf *sb, int32_t l, int32_t) { serialize_process_tree(sb, l); }, 0, 0);
    EXPECT_EQ(tree, written([](strbuf *sb, int32_t l, int32_t) { oracle::process_tree(sb, l); }, 0, 0));
    std::set<int64_t> pids;
    std::function<void(const nlohmann::json &)> walk = [&](const nlohmann::json &node) {
        EXPECT_TRUE(pids.insert(node["pid"].get<int64_t>()).second);
        for (const auto &child : node["children"]) walk(child);
    };
    for (const auto &root : nlohmann::json::parse(tree)) walk(root);
    EXPECT_EQ(pids.size(), 10000u);
}

TEST_F(CapacityTest, GrownListsAreKeptSoASteadyStateAllocatesNothing) {
    make_machine(5000, 10, 10);
    sysmon_processes(0, 0);
    sysmon_process_tree(0);
    fake_alloc_install();
    for (int i = 0; i < 3; ++i) {
        fake_clock_advance_ns(1000000000);
        sysmon_processes(0, 0);
        sysmon_process_tree(0);
    }
    EXPECT_EQ(g_fake_alloc.allocs, 0);
    EXPECT_EQ(g_fake_alloc.reallocs, 0);
}

TEST_F(CapacityTest, AGrowthThatFailsKeepsWhatFitsAndTheLibraryUsable) {
    // As many processes as the list holds: the response buffer grows to them.
    const int32_t held = s_procs.capacity;
    make_machine(held, 1, 1);
    sysmon_processes(0, 2);
    fake_alloc_install();
    g_fake_alloc.fail_alloc_index = 0;  // every growth fails from here on
    g_fake_alloc.fail_reallocs = true;
    make_machine(held + 500, 1, 1);
    fake_clock_advance_ns(1000000000);
    const nlohmann::json list = nlohmann::json::parse(sysmon_processes(0, 2));
    ASSERT_EQ(list.size(), static_cast<size_t>(held));
    for (size_t i = 0; i < list.size(); ++i) ASSERT_EQ(list[i]["pid"], i + 1);  // whole, in order
    // Memory comes back: the next collection lists everything.
    g_fake_alloc.fail_alloc_index = -1;
    g_fake_alloc.fail_reallocs = false;
    fake_clock_advance_ns(1000000000);
    EXPECT_EQ(nlohmann::json::parse(sysmon_processes(0, 2)).size(), static_cast<size_t>(held + 500));
    EXPECT_EQ(nlohmann::json::parse(sysmon_process_tree(0)).is_array(), true);
}

}  // namespace
