// Lists grow with what the collectors find (processes, volumes, interfaces,
// processors and their history rings): big machines are listed whole,
// byte for byte as the straightforward writer lists them, the lists keep
// their size (no allocation in a steady state), and a growth that fails
// keeps what fits.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <set>
#include <string>

#include "history.h"
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
        char name[16];  // formatted, not concatenated: the cross compiler warns falsely on the latter
        std::snprintf(name, sizeof name, "p%d", i % 97);
        g_fake.procs.push_back(fake_process(i + 1, i / 7, name, static_cast<double>(i % 13) * 7.5,
                                            static_cast<uint64_t>(i) * 4096));
    }
    g_fake.disks.assign(static_cast<size_t>(volumes), sysmon_disk_info{});
    for (int32_t i = 0; i < volumes; ++i) std::snprintf(g_fake.disks[i].mount, 16, "/v%d", i);
    g_fake.nets.assign(static_cast<size_t>(interfaces), sysmon_net_info{});
    for (int32_t i = 0; i < interfaces; ++i) std::snprintf(g_fake.nets[i].name, 16, "veth%d", i);
}

// `count` processors: loads 0.25 apart (exact in two decimals), the first
// `low` of them at 10.
void make_processors(int32_t count, int32_t low = 0) {
    g_fake.cpu.threads = count;
    g_fake.cpu.cores = count / 2;
    g_fake.cores.clear();
    for (int32_t i = 0; i < count; ++i)
        g_fake.cores.push_back({i < low ? 10.0 : (i % 400) * 0.25, 1000.0 + i, 5000.5 + i});
}

double mean_load(int32_t count) {
    double sum = 0;
    for (int32_t i = 0; i < count; ++i) sum += g_fake.cores[i].usage;
    return sum / count;
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

TEST_F(CapacityTest, EveryProcessorIsListedPast512AsTheStraightforwardWriterListsThem) {
    make_processors(1024);
    const nlohmann::json cpu = nlohmann::json::parse(sysmon_cpu());
    ASSERT_EQ(cpu["per_core"].size(), 1024u);
    ASSERT_EQ(cpu["per_core_busy_seconds"].size(), 1024u);
    ASSERT_EQ(cpu["per_core_idle_seconds"].size(), 1024u);
    for (size_t i = 0; i < 1024; ++i) {
        ASSERT_EQ(cpu["per_core"][i].get<double>(), g_fake.cores[i].usage) << i;
        ASSERT_EQ(cpu["per_core_busy_seconds"][i].get<double>(), g_fake.cores[i].busy_seconds) << i;
        ASSERT_EQ(cpu["per_core_idle_seconds"][i].get<double>(), g_fake.cores[i].idle_seconds) << i;
    }
    EXPECT_NEAR(cpu["total_usage"].get<double>(), mean_load(1024), 0.005);

    // Two snapshots: every processor has its ring, the ones past 512 too.
    sysmon_snapshot();
    g_fake.cores[1000].usage = 99.5;
    const nlohmann::json snapshot = nlohmann::json::parse(sysmon_snapshot());
    EXPECT_EQ(snapshot["cpu"]["per_core"].size(), 1024u);
    const nlohmann::json rings = nlohmann::json::parse(sysmon_cpu_core_history(5));
    ASSERT_EQ(rings.size(), 1024u);
    EXPECT_EQ(rings[1000], nlohmann::json::parse("[50.0,99.5]"));
    EXPECT_EQ(rings[1023], nlohmann::json::parse("[55.75,55.75]"));

    // The documents are the straightforward writer's, byte for byte.
    const auto snapshot_text = [](strbuf *sb, int32_t, int32_t) { serialize_snapshot(sb); };
    const auto oracle_snapshot_text = [](strbuf *sb, int32_t, int32_t) { oracle::snapshot(sb); };
    EXPECT_EQ(written(snapshot_text, 0, 0), written(oracle_snapshot_text, 0, 0));
    for (int32_t n : {1, 2, 300}) {
        const std::string mine = written([](strbuf *sb, int32_t k, int32_t) { serialize_core_history(sb, k); }, n, 0);
        const std::string theirs = written([](strbuf *sb, int32_t k, int32_t) { oracle::core_history(sb, k); }, n, 0);
        EXPECT_EQ(mine, theirs) << n;
    }
}

TEST_F(CapacityTest, AProcessorListThatCannotGrowKeepsWhatFitsAndItsMeanSaysSo) {
    // As many processors as the lists hold: the response buffers grow to them.
    make_processors(SYSMON_MAX_CORES, SYSMON_MAX_CORES);
    sysmon_snapshot();
    sysmon_cpu();
    sysmon_cpu_core_history(1);
    fake_alloc_install();
    // Every growth fails: of the processors' list and of their rings.
    g_fake_alloc.fail_alloc_sizes = {1024 * sizeof(sysmon_core_info), 1024 * sizeof(history_ring)};
    g_fake_alloc.fail_reallocs = true;
    make_processors(1024, SYSMON_MAX_CORES);  // the 512 more are busier than the first 512
    fake_clock_advance_ns(1000000000);
    const nlohmann::json cpu = nlohmann::json::parse(sysmon_cpu());
    ASSERT_EQ(cpu["per_core"].size(), static_cast<size_t>(SYSMON_MAX_CORES));
    EXPECT_EQ(cpu["per_core_busy_seconds"].size(), static_cast<size_t>(SYSMON_MAX_CORES));
    EXPECT_EQ(cpu["per_core_idle_seconds"].size(), static_cast<size_t>(SYSMON_MAX_CORES));
    EXPECT_EQ(cpu["per_core_idle_seconds"][511].get<double>(), 5511.5);  // the first ones, in order
    EXPECT_EQ(cpu["total_usage"].get<double>(), 10.0);  // the mean of those listed
    EXPECT_EQ(cpu["threads"], 1024);
    const nlohmann::json snapshot = nlohmann::json::parse(sysmon_snapshot());
    EXPECT_EQ(snapshot["cpu"]["per_core"].size(), static_cast<size_t>(SYSMON_MAX_CORES));
    EXPECT_EQ(nlohmann::json::parse(sysmon_cpu_core_history(1)).size(), static_cast<size_t>(SYSMON_MAX_CORES));

    // Memory comes back: the next collections list and record everything.
    g_fake_alloc.fail_alloc_sizes.clear();
    g_fake_alloc.fail_reallocs = false;
    fake_clock_advance_ns(1000000000);
    const nlohmann::json whole = nlohmann::json::parse(sysmon_snapshot());
    EXPECT_EQ(whole["cpu"]["per_core"].size(), 1024u);
    EXPECT_NEAR(whole["cpu"]["total_usage"].get<double>(), mean_load(1024), 0.005);
    EXPECT_EQ(nlohmann::json::parse(sysmon_cpu_core_history(1)).size(), 1024u);
}

TEST_F(CapacityTest, GrownListsAreKeptSoASteadyStateAllocatesNothing) {
    make_machine(5000, 10, 10);
    make_processors(1024);
    sysmon_processes(0, 0);
    sysmon_process_tree(0);
    sysmon_cpu();
    sysmon_snapshot();
    fake_alloc_install();
    for (int i = 0; i < 3; ++i) {
        fake_clock_advance_ns(1000000000);
        sysmon_processes(0, 0);
        sysmon_process_tree(0);
        sysmon_cpu();
        sysmon_snapshot();
    }
    EXPECT_EQ(g_fake_alloc.allocs, 0);
    EXPECT_EQ(g_fake_alloc.reallocs, 0);
    EXPECT_EQ(s_cores.capacity, 1024);
    EXPECT_EQ(s_core_history.count, 1024);
}

TEST_F(CapacityTest, CleanUpGivesTheGrownProcessorListsBack) {
    make_processors(1024);
    sysmon_snapshot();
    ASSERT_EQ(s_cores.on_heap, 1);
    ASSERT_EQ(s_core_history.on_heap, 1);
    fake_alloc_install();
    sysmon_cleanup();
    EXPECT_EQ(s_cores.on_heap, 0);
    EXPECT_EQ(s_cores.capacity, SYSMON_MAX_CORES);
    EXPECT_EQ(s_core_history.on_heap, 0);
    EXPECT_EQ(nlohmann::json::parse(sysmon_cpu_core_history(1)).size(), 1024u);  // initialised again
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
