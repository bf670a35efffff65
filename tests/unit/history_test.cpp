// History rings and the two history queries.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "history.h"
#include "library_fixture.h"

namespace {

std::vector<double> newest(const history_ring &ring, int32_t n) {
    double out[SYSMON_HISTORY_LEN];
    const int32_t m = ring_get_samples(&ring, n, out);
    return std::vector<double>(out, out + m);
}

TEST(HistoryRingTest, KeepsSamplesInOrderUntilFull) {
    history_ring ring{};
    for (int i = 1; i <= 5; ++i) ring_push(&ring, i * 10.0);
    EXPECT_EQ(ring.count, 5);
    EXPECT_EQ(ring.head, 0);
    EXPECT_EQ(newest(ring, 3), (std::vector<double>{30, 40, 50}));
    EXPECT_EQ(newest(ring, 10), (std::vector<double>{10, 20, 30, 40, 50}));
    EXPECT_TRUE(newest(ring, 0).empty());
    EXPECT_TRUE(newest(ring, -1).empty());
    EXPECT_TRUE(newest(ring, INT_MIN).empty());
}

TEST(HistoryRingTest, WrapsAfter300Samples) {
    history_ring ring{};
    for (int i = 1; i <= 300; ++i) ring_push(&ring, i);
    EXPECT_EQ(ring.count, 300);
    EXPECT_EQ(ring.head, 0);
    auto all = newest(ring, INT_MAX);
    ASSERT_EQ(all.size(), 300u);
    EXPECT_EQ(all.front(), 1);
    EXPECT_EQ(all.back(), 300);

    ring_push(&ring, 301);  // overwrites the oldest
    EXPECT_EQ(ring.count, 300);
    EXPECT_EQ(ring.head, 1);
    all = newest(ring, 1000);
    ASSERT_EQ(all.size(), 300u);
    EXPECT_EQ(all.front(), 2);
    EXPECT_EQ(all.back(), 301);
    EXPECT_EQ(newest(ring, 2), (std::vector<double>{300, 301}));

    for (int i = 302; i <= 1000; ++i) ring_push(&ring, i);
    EXPECT_EQ(newest(ring, 3), (std::vector<double>{998, 999, 1000}));
    EXPECT_EQ(newest(ring, 300).front(), 701);
}

TEST(HistoryRingTest, EmptyRingGivesNothing) {
    history_ring ring{};
    EXPECT_TRUE(newest(ring, 300).empty());
}

class HistoryQueryTest : public LibraryTest {
protected:
    void snapshot_with_load(double load) {
        g_fake.cpu.total_usage = load;
        sysmon_snapshot();
    }
};

TEST_F(HistoryQueryTest, EmptyBeforeAnySnapshot) {
    g_fake.cores.resize(4);
    for (int k = 0; k < 8; ++k) EXPECT_STREQ(sysmon_history(k, 60), "[]") << k;
    EXPECT_STREQ(sysmon_cpu_core_history(60), "[[],[],[],[]]");
}

TEST_F(HistoryQueryTest, NewestSamplesWithTwoDecimals) {
    for (double load : {10.0, 20.0, 30.0, 40.0, 50.0}) snapshot_with_load(load);
    EXPECT_STREQ(sysmon_history(0, 3), "[30.00,40.00,50.00]");
    EXPECT_STREQ(sysmon_history(0, 10), "[10.00,20.00,30.00,40.00,50.00]");
    EXPECT_STREQ(sysmon_history(0, 1), "[50.00]");
}

TEST_F(HistoryQueryTest, OutOfRangeArgumentsGiveEmptyArrays) {
    snapshot_with_load(5);
    for (int32_t metric : {8, -1, INT_MIN, INT_MAX, 100}) EXPECT_STREQ(sysmon_history(metric, 10), "[]") << metric;
    for (int32_t n : {0, -1, INT_MIN}) EXPECT_STREQ(sysmon_history(0, n), "[]") << n;
    EXPECT_STREQ(sysmon_history(0, INT_MAX), "[5.00]");
}

TEST_F(HistoryQueryTest, The301stSnapshotOverwritesTheFirstSample) {
    for (int i = 1; i <= 301; ++i) snapshot_with_load(i);
    const auto samples = nlohmann::json::parse(sysmon_history(0, 300));
    ASSERT_EQ(samples.size(), 300u);
    EXPECT_EQ(samples.front().get<double>(), 2);
    EXPECT_EQ(samples.back().get<double>(), 301);
    EXPECT_EQ(std::string(sysmon_history(0, 1000)), std::string(sysmon_history(0, 300)));
}

TEST_F(HistoryQueryTest, CoreHistoryHasOneArrayPerProcessorInUse) {
    g_fake.cores.resize(2);
    g_fake.cores[0].usage = 12;
    g_fake.cores[1].usage = 7.5;
    sysmon_snapshot();
    g_fake.cores[0].usage = 1;
    g_fake.cores[1].usage = 2;
    sysmon_snapshot();
    EXPECT_STREQ(sysmon_cpu_core_history(1), "[[1.00],[2.00]]");
    EXPECT_STREQ(sysmon_cpu_core_history(5), "[[12.00,1.00],[7.50,2.00]]");
    EXPECT_STREQ(sysmon_cpu_core_history(0), "[[],[]]");
    EXPECT_STREQ(sysmon_cpu_core_history(INT_MIN), "[[],[]]");
}

TEST_F(HistoryQueryTest, CoreHistoryWithNoProcessorsShowsRingZero) {
    g_fake.cores.resize(0);
    sysmon_snapshot();
    EXPECT_STREQ(sysmon_cpu_core_history(10), "[[]]");
    EXPECT_EQ(s_core_history.count, 0);
}

TEST_F(HistoryQueryTest, CoreHistoryGrowsPast512Rings) {
    g_fake.cores.resize(600);
    g_fake.cores[599].usage = 59.9;
    sysmon_snapshot();
    const auto doc = nlohmann::json::parse(sysmon_cpu_core_history(1));
    ASSERT_EQ(doc.size(), 600u);
    EXPECT_EQ(doc[599], nlohmann::json::parse("[59.9]"));
}

TEST_F(HistoryQueryTest, ProcessorRingsBeyondTheCountKeepTheirSamples) {
    g_fake.cores.resize(3);
    g_fake.cores[2].usage = 33;
    sysmon_snapshot();
    g_fake.cores.resize(1);
    sysmon_snapshot();
    EXPECT_EQ(s_core_history.items[0].count, 2);
    EXPECT_EQ(s_core_history.items[2].count, 1);
    EXPECT_STREQ(sysmon_cpu_core_history(5), "[[0.00,0.00]]");
}

TEST_F(HistoryQueryTest, RingsAreEmptyAgainAfterCleanup) {
    g_fake.cores.resize(2);
    snapshot_with_load(9);
    sysmon_cleanup();
    EXPECT_STREQ(sysmon_history(0, 60), "[]");
    EXPECT_STREQ(sysmon_cpu_core_history(60), "[[],[]]");
}

TEST_F(HistoryQueryTest, HistoryQueriesNeitherCollectNorReadTheClock) {
    sysmon_init();
    const size_t calls = g_fake.calls.size();
    const int reads = fake_clock_reads();
    sysmon_history(0, 10);
    sysmon_cpu_core_history(10);
    EXPECT_EQ(g_fake.calls.size(), calls);
    EXPECT_EQ(fake_clock_reads(), reads);
}

}  // namespace
