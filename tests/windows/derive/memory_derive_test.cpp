// Memory figures from the memory status.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "memory_derive.h"

namespace {

constexpr uint64_t GIB = 1024ull * 1024 * 1024;

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
