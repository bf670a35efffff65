// Interface acceptance, description and address, and rates against the
// previous counters of the same interface LUID.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net_walk.h"

namespace {

struct fake_row {
    uint64_t luid;
    std::string descr;
    uint64_t in;
    uint64_t out;
    uint32_t type = 6;    // ethernet
    uint32_t status = 1;  // up
};

net_row as_row(const fake_row &f) {
    return {f.luid, f.type, f.status, f.in, f.out, f.descr.c_str(), f.descr.size() + 1};
}

// The collector state kept between collections: two tables, used in turn.
struct net_state {
    net_table tables[2] = {};
    int current = 0;
    net_address_table addresses = {};
};

// One collection over `rows`, as the collector walks the table.
int32_t collect(sysmon_net_info *nets, int32_t capacity, const std::vector<fake_row> &rows,
                double elapsed, net_state *s) {
    int32_t count = -1;
    derive_net_clear(nets, &count, capacity);
    EXPECT_EQ(count, 0);
    net_walk walk;
    derive_net_walk_begin(&walk, nets, capacity, &s->tables[s->current],
                          &s->tables[1 - s->current], &s->addresses, elapsed);
    for (size_t i = 0; i < rows.size() && !derive_net_walk_full(&walk); ++i) {
        const net_row row = as_row(rows[i]);
        derive_net_walk_row(&walk, &row);
    }
    derive_net_walk_end(&walk, &count);
    s->current = 1 - s->current;
    return count;
}

}  // namespace

TEST(DeriveNetwork, AcceptanceRules) {
    fake_row f{1, "if", 0, 0};
    net_row row = as_row(f);
    EXPECT_TRUE(derive_net_row_accepted(&row));  // up, no traffic

    row.oper_status = 2;  // down
    EXPECT_FALSE(derive_net_row_accepted(&row));
    row.oper_status = 5;  // not present: the old table's "operational" means nothing here
    EXPECT_FALSE(derive_net_row_accepted(&row));
    row.in_octets = 1;
    EXPECT_TRUE(derive_net_row_accepted(&row));
    row.in_octets = 0;
    row.out_octets = 1;
    EXPECT_TRUE(derive_net_row_accepted(&row));

    row.type = 24;  // loopback, whatever its state and traffic
    row.oper_status = 1;
    row.in_octets = 100;
    EXPECT_FALSE(derive_net_row_accepted(&row));
}

TEST(DeriveNetwork, FirstCollectionHasNoRatesAndAddressesComeByLuid) {
    net_state s;
    const uint8_t eth_address[4] = {192, 168, 1, 20};
    const uint8_t second_address[4] = {10, 0, 0, 1};
    derive_net_add_address(&s.addresses, 0x600000001ull, eth_address);
    derive_net_add_address(&s.addresses, 0x600000001ull, second_address);  // not the first
    sysmon_net_info nets[4];
    std::memset(nets, 0xAB, sizeof nets);
    ASSERT_EQ(collect(nets, 4,
                      {{0x1800000001ull, "lo", 9, 9, 24},
                       {0x600000001ull, "eth0", 1000, 2000},
                       {0x4700000002ull, "wifi", 0, 0, 71, 2},
                       {0x600000003ull, "eth1", 0, 0}},
                      1.0, &s),
              2);
    EXPECT_STREQ(nets[0].name, "eth0");
    EXPECT_STREQ(nets[0].ip, "192.168.1.20");
    EXPECT_EQ(nets[0].total_recv, 1000u);
    EXPECT_EQ(nets[0].total_sent, 2000u);
    EXPECT_EQ(nets[0].down_bytes_sec, 0u);
    EXPECT_EQ(nets[0].up_bytes_sec, 0u);
    EXPECT_STREQ(nets[1].ip, "0.0.0.0");  // no IPv4 address
    const sysmon_net_info zero = {};
    for (int i = 2; i < 4; ++i) EXPECT_EQ(std::memcmp(&nets[i], &zero, sizeof zero), 0) << i;

    char text[16];
    const uint8_t high[4] = {255, 255, 255, 255};
    derive_ipv4_text(text, sizeof text, high);
    EXPECT_STREQ(text, "255.255.255.255");
}

TEST(DeriveNetwork, RatesFromSixtyFourBitCountersTruncated) {
    net_state s;
    sysmon_net_info nets[2];
    // Past 2^32: a 32-bit counter would have wrapped here.
    const uint64_t base = 0x1FFFFFF00ull;
    collect(nets, 2, {{7, "eth0", base, 5000}}, 1.0, &s);
    collect(nets, 2, {{7, "eth0", base + 2000000, 6000}}, 2.0, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 1000000u);
    EXPECT_EQ(nets[0].up_bytes_sec, 500u);
    collect(nets, 2, {{7, "eth0", base + 2001000, 6000}}, 3.0, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 333u);
    EXPECT_EQ(nets[0].up_bytes_sec, 0u);

    // A counter that went down gives 0 for that direction only; the floor
    // of the window gives 0 for both.
    collect(nets, 2, {{7, "eth0", 50, 6300}}, 1.0, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 0u);
    EXPECT_EQ(nets[0].up_bytes_sec, 300u);
    collect(nets, 2, {{7, "eth0", 1050, 7300}}, 0.001, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 0u);
    EXPECT_EQ(nets[0].up_bytes_sec, 0u);
}

TEST(DeriveNetwork, AdaptersSharingADescriptionKeepTheirOwnCounters) {
    net_state s;
    sysmon_net_info nets[4];
    collect(nets, 4, {{11, "Intel(R) Ethernet", 100, 0}, {12, "Intel(R) Ethernet", 500, 0}}, 1.0,
            &s);
    // The order of the table changes; each interface still meets its own.
    collect(nets, 4,
            {{12, "Intel(R) Ethernet", 700, 0}, {11, "Intel(R) Ethernet", 300, 0},
             {13, "Intel(R) Ethernet", 900, 0}},
            1.0, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 200u);
    EXPECT_EQ(nets[1].down_bytes_sec, 200u);
    EXPECT_EQ(nets[2].down_bytes_sec, 0u);  // new interface
}

TEST(DeriveNetwork, DescriptionIsReadWithinItsArrayAndCutAtACharacter) {
    net_state s;
    sysmon_net_info nets[1];
    const std::string hundred(100, 'd');
    collect(nets, 1, {{1, hundred, 1, 1}}, 1.0, &s);
    EXPECT_EQ(std::string(nets[0].name), hundred.substr(0, 63));

    // 62 bytes, then a 3-byte character that would end past byte 63.
    collect(nets, 1, {{1, std::string(62, 'x') + "\xE2\x82\xAC", 1, 1}}, 1.0, &s);
    EXPECT_EQ(std::string(nets[0].name), std::string(62, 'x'));

    // A 20-byte array without a NUL is read only within it.
    const auto descr = std::make_unique<char[]>(20);
    std::memset(descr.get(), 'n', 20);
    net_row row = {1, 6, 1, 1, 1, descr.get(), 20};
    net_walk walk;
    derive_net_walk_begin(&walk, nets, 1, &s.tables[0], &s.tables[1], nullptr, 1.0);
    derive_net_walk_row(&walk, &row);
    EXPECT_EQ(std::string(nets[0].name), std::string(20, 'n'));
    EXPECT_STREQ(nets[0].ip, "0.0.0.0");
}

TEST(DeriveNetwork, CapacityStopsTheWalkAndNoAcceptedRowEmptiesTheTable) {
    net_state s;
    std::vector<fake_row> rows;
    for (uint64_t i = 0; i < 70; ++i) rows.push_back({i + 1, "if" + std::to_string(i), 1, 1});
    sysmon_net_info nets[SYSMON_MAX_NETS];
    ASSERT_EQ(collect(nets, SYSMON_MAX_NETS, rows, 1.0, &s), SYSMON_MAX_NETS);
    EXPECT_STREQ(nets[63].name, "if63");
    EXPECT_EQ(s.tables[s.current].count(), SYSMON_MAX_NETS);
    EXPECT_EQ(collect(nets, 0, rows, 1.0, &s), 0);
    EXPECT_EQ(collect(nets, -1, rows, 1.0, &s), 0);

    collect(nets, 2, {{5, "eth0", 100, 100}}, 1.0, &s);
    EXPECT_EQ(collect(nets, 2, {{9, "lo", 5, 5, 24}}, 1.0, &s), 0);
    collect(nets, 2, {{5, "eth0", 300, 300}}, 1.0, &s);
    EXPECT_EQ(nets[0].down_bytes_sec, 0u);
}
