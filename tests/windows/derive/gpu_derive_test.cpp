// The Windows GPU derivations: adapter filter, driver version text, counter
// instance names, the busiest engine and the memory in use per adapter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <string>

#include "gpu_derive.h"

TEST(DeriveGpu, AdaptersListed) {
    EXPECT_TRUE(gpu_dxgi_listed(0x1002, 0, false));
    EXPECT_FALSE(gpu_dxgi_listed(0x1414, 0, false));          // basic render driver
    EXPECT_FALSE(gpu_dxgi_listed(0x8086, GPU_ADAPTER_FLAG_SOFTWARE, false));
    EXPECT_TRUE(gpu_dxgi_listed(0x10DE, 0, false));           // no NVML: DXGI tells
    EXPECT_FALSE(gpu_dxgi_listed(0x10DE, 0, true));           // NVML lists it
}

TEST(DeriveGpu, DriverVersion) {
    char out[32];
    gpu_driver_version(0x001F000F0D0B1234ull, out, sizeof out);
    EXPECT_STREQ(out, "31.15.3339.4660");
    gpu_driver_version(0xFFFFFFFFFFFFFFFFull, out, sizeof out);
    EXPECT_STREQ(out, "65535.65535.65535.65535");
}

TEST(DeriveGpu, InstanceNames) {
    gpu_engine_key k;
    ASSERT_TRUE(gpu_engine_instance("pid_1234_luid_0x00000000_0x0000D1C2_phys_0_eng_3_engtype_VideoDecode", &k));
    EXPECT_EQ(k.luid.high, 0u);
    EXPECT_EQ(k.luid.low, 0xD1C2u);
    EXPECT_EQ(k.phys, 0u);
    EXPECT_EQ(k.engine, 3u);
    for (const char *bad : {"", "pid_1_luid_0x0", "luid_0x0_0x1_phys_0_eng_0", "pid_x_luid_0x0_0x1_phys_0_eng_0",
                            "pid_1_luid_0x0_0x123456789AB_phys_0_eng_0", "pid_1_luid_0x0_0x1_phys__eng_0"})
        EXPECT_FALSE(gpu_engine_instance(bad, &k)) << bad;
    gpu_luid l;
    ASSERT_TRUE(gpu_memory_instance("luid_0x00000001_0x0000C3F2_phys_0", &l));
    EXPECT_EQ(l.high, 1u);
    EXPECT_EQ(l.low, 0xC3F2u);
    EXPECT_FALSE(gpu_memory_instance("total", &l));
}

TEST(DeriveGpu, BusiestEngineAndMemory) {
    const gpu_counter_sample engines[] = {
        {"pid_10_luid_0x00000000_0x0000D1C2_phys_0_eng_0_engtype_3D", 30},
        {"pid_11_luid_0x00000000_0x0000D1C2_phys_0_eng_0_engtype_3D", 25},  // same engine: 55
        {"pid_10_luid_0x00000000_0x0000D1C2_phys_0_eng_1_engtype_Copy", 40},
        {"pid_12_luid_0x00000000_0x0000AAAA_phys_0_eng_0_engtype_3D", 90},   // another adapter
        {"pid_13_luid_0x00000000_0x0000D1C2_phys_0_eng_1_engtype_Copy", std::nan("")},
        {"garbage", 99},
    };
    EXPECT_DOUBLE_EQ(gpu_adapter_load(engines, 6, gpu_luid{0, 0xD1C2}), 55);
    EXPECT_DOUBLE_EQ(gpu_adapter_load(engines, 6, gpu_luid{0, 0xAAAA}), 90);
    EXPECT_DOUBLE_EQ(gpu_adapter_load(engines, 6, gpu_luid{0, 0xBBBB}), 0);
    const gpu_counter_sample crowded[] = {
        {"pid_1_luid_0x0_0x1_phys_0_eng_0_engtype_3D", 80}, {"pid_2_luid_0x0_0x1_phys_0_eng_0_engtype_3D", 70}};
    EXPECT_DOUBLE_EQ(gpu_adapter_load(crowded, 2, gpu_luid{0, 1}), 100);  // clamped
    const gpu_counter_sample memory[] = {
        {"luid_0x00000000_0x0000D1C2_phys_0", 1073741824}, {"luid_0x00000000_0x0000D1C2_phys_1", 1024},
        {"luid_0x00000000_0x0000AAAA_phys_0", 5}, {"luid_0x00000000_0x0000D1C2_phys_2", -7}};
    EXPECT_EQ(gpu_adapter_memory_used(memory, 4, gpu_luid{0, 0xD1C2}), 1073742848u);
    EXPECT_EQ(gpu_adapter_memory_used(nullptr, 4, gpu_luid{0, 0xD1C2}), 0u);
}

TEST(DeriveGpu, PerformanceDataTemperature) {
    // The kernel's structure: 8-byte members after the first are aligned, so
    // the temperature sits at byte 56 of a 64-byte block.
    EXPECT_EQ(offsetof(gpu_kmt_perfdata, temperature), 56u);
    EXPECT_EQ(sizeof(gpu_kmt_perfdata), 64u);
    EXPECT_DOUBLE_EQ(gpu_kmt_temperature(655), 65.5);
    EXPECT_DOUBLE_EQ(gpu_kmt_temperature(0), 0);          // no sensor
    EXPECT_DOUBLE_EQ(gpu_kmt_temperature(4000000000u), 0);  // garbage
}
