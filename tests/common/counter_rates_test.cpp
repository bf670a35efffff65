// Growth of cumulative counters over the time it took, shared by the
// collectors of every platform.
#include <gtest/gtest.h>

#include <cstdint>

#include "counter_rates.h"

TEST(CounterRates, GrowthPerSecondAndTheFloors) {
    EXPECT_EQ(counter_rate(3000, 1000, 2.0), 1000u);
    EXPECT_EQ(counter_rate(1000, 3000, 2.0), 0u);       // went down
    EXPECT_EQ(counter_rate(3000, 1000, 0.001), 0u);     // window too short
    EXPECT_EQ(counter_rate(UINT64_MAX, 0, 0.5), UINT64_MAX);
    EXPECT_DOUBLE_EQ(process_cpu_percent(15000000, 10000000, 1.0), 50.0);
    EXPECT_DOUBLE_EQ(process_cpu_percent(40000000, 10000000, 1.0), 100.0);
    EXPECT_DOUBLE_EQ(process_cpu_percent(10000000, 15000000, 1.0), 0.0);
}
