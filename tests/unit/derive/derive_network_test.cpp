// Interface acceptance, description copy, rates against the previous
// counters, and the rebuild of that table after each walk.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "derive.h"

namespace {

struct fake_row {
    std::string descr;
    uint32_t in;
    uint32_t out;
    uint32_t type = 6;    // ethernet
    uint32_t status = 5;  // operational
};

net_row as_row(const fake_row &f) {
    return {f.type, f.status, f.in, f.out, static_cast<uint32_t>(f.descr.size()),
            f.descr.c_str(), f.descr.size()};
}

// The collector state kept between collections.
struct net_state {
    prev_net_entry prev[SYSMON_MAX_NETS] = {};
    int32_t prev_count = 0;
};

// One collection over `rows`, as the collector walks the table.
int32_t collect(sysmon_net_info *nets, int32_t capacity,
                const std::vector<fake_row> &rows, double elapsed,
                net_state *s) {
    int32_t count = -1;
    derive_net_clear(nets, &count, capacity);
    EXPECT_EQ(count, 0);
    net_walk walk;
    derive_net_walk_begin(&walk, nets, capacity, s->prev, s->prev_count, elapsed);
    for (size_t i = 0; i < rows.size() && !derive_net_walk_full(&walk); ++i) {
        const net_row row = as_row(rows[i]);
        derive_net_walk_row(&walk, &row);
    }
    derive_net_walk_end(&walk, &count, s->prev, &s->prev_count);
    return count;
}

}  // namespace

TEST(DeriveNetwork, AcceptanceRules) {
    fake_row f{"if", 0, 0};
    net_row row = as_row(f);
    EXPECT_TRUE(derive_net_row_accepted(&row));  // operational, no traffic

    row.oper_status = 2;  // down
    EXPECT_FALSE(derive_net_row_accepted(&row));
    row.in_octets = 1;
    EXPECT_TRUE(derive_net_row_accepted(&row));
    row.in_octets = 0;
    row.out_octets = 1;
    EXPECT_TRUE(derive_net_row_accepted(&row));

    row.type = 24;  // loopback, whatever its state and traffic
    row.oper_status = 5;
    row.in_octets = 100;
    EXPECT_FALSE(derive_net_row_accepted(&row));
}

TEST(DeriveNetwork, FirstCollectionHasNoRatesAndFillsTable) {
    net_state s;
    sysmon_net_info nets[4];
    std::memset(nets, 0xAB, sizeof nets);
    ASSERT_EQ(collect(nets, 4,
                      {{"lo", 9, 9, 24}, {"eth0", 1000, 2000}, {"wifi", 0, 0, 71, 2}},
                      1.0, &s),
              1);
    EXPECT_STREQ(nets[0].name, "eth0");
    EXPECT_STREQ(nets[0].ip, "0.0.0.0");
    EXPECT_EQ(nets[0].total_recv, 1000u);
    EXPECT_EQ(nets[0].total_sent, 2000u);
    EXPECT_EQ(nets[0].down_bytes_sec, 0u);
    EXPECT_EQ(nets[0].up_bytes_sec, 0u);
    const sysmon_net_info zero = {};
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(std::memcmp(&nets[i], &zero, sizeof zero), 0) << i;
    ASSERT_EQ(s.prev_count, 1);
    EXPECT_STREQ(s.prev[0].name, "eth0");
    EXPECT_EQ(s.prev[0].total_recv, 1000u);
    EXPECT_EQ(s.prev[0].total_sent, 2000u);
}

TEST(DeriveNetwork, RatesAreGrowthPerSecondTruncated) {
    net_state s;
    sysmon_net_info nets[2];
    collect(nets, 2, {{"eth0", 1000000, 5000}}, 1.0, &s);
    collect(nets, 2, {{"eth0", 3000000, 6000}}, 2.0, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 1000000u);
    EXPECT_EQ(nets[0].up_bytes_sec, 500u);
    collect(nets, 2, {{"eth0", 3001000, 6000}}, 3.0, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 333u);
    EXPECT_EQ(nets[0].up_bytes_sec, 0u);
}

TEST(DeriveNetwork, WrappedCounterGivesZeroForThatDirectionOnly) {
    net_state s;
    sysmon_net_info nets[1];
    collect(nets, 1, {{"eth0", 4000000000u, 100}}, 1.0, &s);
    collect(nets, 1, {{"eth0", 50, 300}}, 1.0, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 0u);
    EXPECT_EQ(nets[0].up_bytes_sec, 200u);
}

TEST(DeriveNetwork, ElapsedAtTheClockFloorGivesNoRates) {
    net_state s;
    sysmon_net_info nets[1];
    collect(nets, 1, {{"eth0", 0, 0}}, 1.0, &s);
    collect(nets, 1, {{"eth0", 1000, 1000}}, 0.001, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 0u);
    EXPECT_EQ(nets[0].up_bytes_sec, 0u);
    // The table was still replaced.
    EXPECT_EQ(s.prev[0].total_recv, 1000u);
    collect(nets, 1, {{"eth0", 2100, 1000}}, 0.0011, &s);
    EXPECT_NEAR(static_cast<double>(nets[0].down_bytes_sec), 1000000.0, 1.0);
}

TEST(DeriveNetwork, MatchesByNameOnlyFirstEntryOfSameName) {
    net_state s;
    sysmon_net_info nets[4];
    collect(nets, 4, {{"eth0", 100, 0}, {"eth0", 500, 0}}, 1.0, &s);
    collect(nets, 4, {{"eth0", 300, 0}, {"eth0", 700, 0}, {"ETH0", 900, 0}}, 1.0, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 200u);
    EXPECT_EQ(nets[1].down_bytes_sec, 600u);
    EXPECT_EQ(nets[2].down_bytes_sec, 0u);  // new name, case counts
}

TEST(DeriveNetwork, DescriptionHonoursLengthAndField) {
    sysmon_net_info entry;
    fake_row f{"Ethernet adapter number one", 1, 1};
    net_row row = as_row(f);
    row.descr_len = 10;
    derive_net_fill(&entry, &row, nullptr, 0, 1.0);
    EXPECT_STREQ(entry.name, "Ethernet a");

    const std::string hundred(100, 'd');
    f.descr = hundred;
    row = as_row(f);
    derive_net_fill(&entry, &row, nullptr, 0, 1.0);
    EXPECT_EQ(std::string(entry.name), hundred.substr(0, 63));

    f.descr = "short";
    row = as_row(f);
    row.descr_len = 40;  // ends early at the NUL
    derive_net_fill(&entry, &row, nullptr, 0, 1.0);
    EXPECT_STREQ(entry.name, "short");

    // A 20-byte description array without a NUL: a claimed length of 1000,
    // or one that would turn negative as a precision, stops at the array.
    const auto descr = std::make_unique<char[]>(20);
    std::memset(descr.get(), 'n', 20);
    row = {6, 5, 1, 1, 1000, descr.get(), 20};
    derive_net_fill(&entry, &row, nullptr, 0, 1.0);
    EXPECT_EQ(std::string(entry.name), std::string(20, 'n'));
    row.descr_len = 0x80000001u;
    derive_net_fill(&entry, &row, nullptr, 0, 1.0);
    EXPECT_EQ(std::string(entry.name), std::string(20, 'n'));
}

TEST(DeriveNetwork, CapacityStopsTheWalkAndBoundsTheTable) {
    net_state s;
    std::vector<fake_row> rows;
    for (int i = 0; i < 70; ++i) rows.push_back({"if" + std::to_string(i), 1, 1});
    sysmon_net_info nets[SYSMON_MAX_NETS];
    ASSERT_EQ(collect(nets, SYSMON_MAX_NETS, rows, 1.0, &s), SYSMON_MAX_NETS);
    EXPECT_STREQ(nets[63].name, "if63");
    EXPECT_EQ(s.prev_count, SYSMON_MAX_NETS);
    EXPECT_STREQ(s.prev[63].name, "if63");

    // A caller with a larger array still gets a table of at most 64.
    std::vector<sysmon_net_info> big(70);
    ASSERT_EQ(collect(big.data(), 70, rows, 1.0, &s), 70);
    EXPECT_EQ(s.prev_count, SYSMON_MAX_NETS);

    EXPECT_EQ(collect(nets, 0, rows, 1.0, &s), 0);
    EXPECT_EQ(collect(nets, -1, rows, 1.0, &s), 0);
    EXPECT_EQ(s.prev_count, 0);
}

TEST(DeriveNetwork, NoAcceptedRowEmptiesTheTable) {
    net_state s;
    sysmon_net_info nets[2];
    collect(nets, 2, {{"eth0", 100, 100}}, 1.0, &s);
    EXPECT_EQ(collect(nets, 2, {{"lo", 5, 5, 24}}, 1.0, &s), 0);
    EXPECT_EQ(s.prev_count, 0);
    collect(nets, 2, {{"eth0", 300, 300}}, 1.0, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 0u);
}
