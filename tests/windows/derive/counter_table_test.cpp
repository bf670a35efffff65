// The previous-values table: rows by key, appended rows indexed later.
#include <gtest/gtest.h>

#include <cstdint>

#include "counter_table.h"

TEST(CounterTable, FindsByKeyAndForgetsOnClear) {
    static counter_table<16> table;  // zeroed: nothing in use
    EXPECT_EQ(table.find(0), nullptr);
    EXPECT_EQ(table.count(), 0);
    table.clear();
    const uint64_t a[3] = {1, 2, 3};
    const uint64_t b[3] = {4, 5, 6};
    EXPECT_EQ(table.put(0, a, 1), 1);  // key 0 is a key like any other
    EXPECT_EQ(table.put(0x600000001ull, b, 2), 1);
    EXPECT_EQ(table.put(0, b, 2), 0);  // the first row stays
    ASSERT_NE(table.find(0), nullptr);
    EXPECT_EQ(table.find(0)->values[2], 3u);
    EXPECT_EQ(table.find(0x600000001ull)->flags, 2u);
    EXPECT_EQ(table.find(0x600000002ull), nullptr);
    // At most half the slots: beyond that rows are refused, lookups still end.
    for (uint64_t key = 100; key < 120; ++key) table.put(key, a, 0);
    EXPECT_EQ(table.count(), 8);
    EXPECT_EQ(table.find(999), nullptr);
    table.clear();
    EXPECT_EQ(table.find(0), nullptr);
    EXPECT_EQ(table.count(), 0);
    // A cleared table takes rows again up to half its slots; a lookup that
    // starts at the wrong row still finds the key, and the cursor moves on.
    for (uint64_t key = 200; key < 220; ++key) table.put(key, a, 0);
    EXPECT_EQ(table.count(), 8);
    uint32_t cursor = 0;
    ASSERT_NE(table.find_near(203, &cursor), nullptr);
    EXPECT_EQ(cursor, 4u);
    EXPECT_EQ(table.find_near(204, &cursor)->key, 204u);
    EXPECT_EQ(cursor, 5u);
    EXPECT_EQ(table.find_near(999, &cursor), nullptr);
    EXPECT_EQ(cursor, 5u);
    cursor = 99;  // beyond the rows
    EXPECT_EQ(table.find_near(200, &cursor)->key, 200u);
    EXPECT_EQ(cursor, 1u);
    EXPECT_NE(counter_key_of_text("C:\\"), counter_key_of_text("D:\\"));
}

TEST(CounterTable, AppendedRowsAreFoundOnceIndexedAndTheFirstOfAKeyStays) {
    static counter_table<16> table;
    table.clear();
    const uint64_t first[3] = {1, 0, 0};
    const uint64_t second[3] = {2, 0, 0};
    EXPECT_EQ(table.put(5, first, 0), 1);
    for (const uint64_t key : {9, 5, 11, 9, 13}) table.append(key, key == 5 ? second : first, 0);
    EXPECT_EQ(table.find(9), nullptr);  // not yet indexed
    table.index_appended();
    EXPECT_EQ(table.count(), 4);  // 5, 9, 11, 13: the repeated keys dropped
    EXPECT_EQ(table.find(5)->values[0], 1u);
    uint32_t cursor = 1;  // the rows after the dropped ones moved up
    EXPECT_EQ(table.find_near(9, &cursor)->key, 9u);
    EXPECT_EQ(table.find_near(11, &cursor)->key, 11u);
    EXPECT_EQ(table.find_near(13, &cursor)->key, 13u);
    EXPECT_EQ(cursor, 4u);
    // A put indexes what is pending first; appending stops at half the slots.
    table.append(21, first, 0);
    EXPECT_EQ(table.put(21, second, 0), 0);
    EXPECT_EQ(table.find(21)->values[0], 1u);
    for (uint64_t key = 30; key < 40; ++key) table.append(key, first, 0);
    table.index_appended();
    EXPECT_EQ(table.count(), 8);
}

TEST(CounterTable, GrownTableKeepsItsRowsAndAppendedRowsStayPending) {
    counter_table<16> table = {};
    table.clear();
    const uint64_t v[3] = {7, 0, 0};
    for (uint64_t key = 1; key <= 5; ++key) table.put(key, v, 0);
    table.append(6, v, 0);
    ASSERT_TRUE(table.reserve(100));
    EXPECT_GE(table.room(), 100);
    EXPECT_EQ(table.count(), 5);
    EXPECT_EQ(table.find(6), nullptr);  // appended, not yet indexed
    table.index_appended();
    for (uint64_t key = 1; key <= 6; ++key) ASSERT_NE(table.find(key), nullptr) << key;
    for (uint64_t key = 7; key <= 100; ++key) ASSERT_EQ(table.put(key, v, 0), 1) << key;
    EXPECT_EQ(table.find(100)->values[0], 7u);
}
