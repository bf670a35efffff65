// Histories of the real DLL: filled by snapshots only, one sample per
// snapshot and figure, emptied by clean-up.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "host_library.h"
#include "json_checks.h"

namespace {

constexpr int METRICS = 8;

size_t processors_in_use() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return info.dwNumberOfProcessors > 512 ? 512 : info.dwNumberOfProcessors;
}

uint64_t sum_of(const ordered_json &array, const char *key) {
    uint64_t sum = 0;
    for (const auto &entry : array) sum += entry[key].get<uint64_t>();
    return sum;
}

// The eight headline figures of one snapshot, as the history writes them.
std::vector<std::string> headline_figures(const std::string &raw) {
    ordered_json snapshot = parse_document(raw.c_str());
    const ordered_json &memory = snapshot["memory"];
    uint64_t total = memory["total"].get<uint64_t>();
    double memory_percent =
        total == 0 ? 0.0
                   : static_cast<double>(memory["used"].get<uint64_t>()) * 100.0 /
                         static_cast<double>(total);
    return {
        raw_member(raw, "total_usage"),
        format_fixed2(memory_percent),
        format_fixed2(static_cast<double>(sum_of(snapshot["network"], "down_bytes_sec"))),
        format_fixed2(static_cast<double>(sum_of(snapshot["network"], "up_bytes_sec"))),
        format_fixed2(static_cast<double>(sum_of(snapshot["disks"], "read_bytes_sec"))),
        format_fixed2(static_cast<double>(sum_of(snapshot["disks"], "write_bytes_sec"))),
        format_fixed2(snapshot["gpu"]["usage_percent"].get<double>()),
        format_fixed2(snapshot["cpu"]["temperature_c"].get<double>()),
    };
}

// The raw elements of a flat "%.2f" array.
std::vector<std::string> elements(const std::string &raw_array) {
    std::vector<std::string> out;
    std::string inner = raw_array.substr(1, raw_array.size() - 2);
    size_t start = 0;
    while (!inner.empty()) {
        size_t comma = inner.find(',', start);
        out.push_back(inner.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

class History : public testing::Test {
protected:
    void SetUp() override { api().cleanup(); }
};

}  // namespace

TEST_F(History, IsEmptyUntilTheFirstSnapshot) {
    api().cpu();
    api().processes(0, 0);
    for (int metric = 0; metric < METRICS; ++metric) {
        EXPECT_STREQ(api().history(metric, 60), "[]") << metric;
    }
    ordered_json cores = parse_document(api().cpu_core_history(60));
    ASSERT_EQ(cores.size(), processors_in_use());
    for (const auto &core : cores) EXPECT_TRUE(core.empty());
}

TEST_F(History, RecordsTheHeadlineFiguresOfEachSnapshot) {
    std::vector<std::vector<std::string>> recorded;
    std::vector<std::string> per_core_loads;
    for (int i = 0; i < 3; ++i) {
        std::string raw = api().snapshot();
        recorded.push_back(headline_figures(raw));
        per_core_loads.push_back(raw_member(raw, "per_core"));
    }
    for (int metric = 0; metric < METRICS; ++metric) {
        SCOPED_TRACE("metric " + std::to_string(metric));
        std::string all = api().history(metric, 300);
        ASSERT_TRUE(is_fixed2_array(all));
        std::vector<std::string> samples = elements(all);
        ASSERT_EQ(samples.size(), 3u) << all;
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(samples[i], recorded[i][metric]) << all;
        // The newest two, oldest first.
        std::string newest = api().history(metric, 2);
        EXPECT_EQ(newest, "[" + recorded[1][metric] + "," + recorded[2][metric] + "]");
    }

    // One ring per processor, each holding that processor's load per snapshot.
    std::string raw_cores = api().cpu_core_history(300);
    ordered_json cores = parse_document(raw_cores.c_str());
    ASSERT_EQ(cores.size(), processors_in_use()) << raw_cores;
    for (size_t core = 0; core < cores.size(); ++core) {
        ASSERT_EQ(cores[core].size(), 3u) << raw_cores;
        for (size_t i = 0; i < 3; ++i) {
            std::vector<std::string> loads = elements(per_core_loads[i]);
            ASSERT_LT(core, loads.size());
            EXPECT_EQ(format_fixed2(cores[core][i].get<double>()), loads[core]);
        }
    }
    EXPECT_EQ(raw_cores.find(' '), std::string::npos);
}

TEST_F(History, RejectsUnknownMetricsAndEmptyRequests) {
    api().snapshot();
    EXPECT_STREQ(api().history(8, 10), "[]");
    EXPECT_STREQ(api().history(-1, 10), "[]");
    EXPECT_STREQ(api().history(0, 0), "[]");
    EXPECT_STREQ(api().history(0, -4), "[]");
    // A count of 0 still gives one (empty) array per processor.
    ordered_json cores = parse_document(api().cpu_core_history(0));
    ASSERT_EQ(cores.size(), processors_in_use());
    for (const auto &core : cores) EXPECT_TRUE(core.empty());
}

TEST_F(History, KeepsTheNewest300Samples) {
    const int snapshots = 302;
    std::vector<std::string> loads;
    for (int i = 0; i < snapshots; ++i) loads.push_back(raw_member(api().snapshot(), "total_usage"));
    std::vector<std::string> samples = elements(api().history(0, 1000));
    ASSERT_EQ(samples.size(), 300u);
    // The first two snapshots' samples are gone; the rest come oldest first.
    for (size_t i = 0; i < 300; ++i) EXPECT_EQ(samples[i], loads[i + 2]) << i;
    ordered_json cores = parse_document(api().cpu_core_history(1000));
    for (const auto &core : cores) EXPECT_EQ(core.size(), 300u);
}

TEST_F(History, CleanupEmptiesEveryRing) {
    api().snapshot();
    api().snapshot();
    ASSERT_EQ(parse_document(api().history(0, 300)).size(), 2u);
    api().cleanup();
    for (int metric = 0; metric < METRICS; ++metric) {
        EXPECT_STREQ(api().history(metric, 300), "[]") << metric;
    }
    for (const auto &core : parse_document(api().cpu_core_history(300))) {
        EXPECT_TRUE(core.empty());
    }
    // And they fill again from the next snapshot on.
    api().snapshot();
    EXPECT_EQ(parse_document(api().history(0, 300)).size(), 1u);
}
