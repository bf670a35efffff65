// The GPU placeholder.
#include <gtest/gtest.h>

#include <cstring>

#include "gpu_derive.h"

TEST(DeriveGpu, PlaceholderOverwritesEveryField) {
    sysmon_gpu_info gpu;
    std::memset(&gpu, 0xAB, sizeof gpu);
    derive_gpu(&gpu);
    EXPECT_STREQ(gpu.name, "unknown");
    EXPECT_STREQ(gpu.driver, "unknown");
    EXPECT_DOUBLE_EQ(gpu.usage_percent, 0.0);
    EXPECT_EQ(gpu.vram_total, 0u);
    EXPECT_EQ(gpu.vram_used, 0u);
    EXPECT_DOUBLE_EQ(gpu.temperature_c, 0.0);
    EXPECT_DOUBLE_EQ(gpu.power_watts, 0.0);
}
