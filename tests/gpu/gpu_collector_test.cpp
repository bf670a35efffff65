// The Linux GPU collector on fixture trees, with the fake NVML standing in
// for NVIDIA's library: what each adapter reports, the order and the primary,
// NVIDIA cards listed once, other DRM drivers left out, hostile values and
// vendor-library failures, and one NVML initialisation per library
// initialisation.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fixture_tree.h"
#include "linux_sources.h"
#include "sysmon_internal.h"
#include "vantorel/sysmon.h"

namespace {

// A configuration for the fake NVML, in force while the object lives.
struct fake_nvml {
    std::string dir;
    explicit fake_nvml(const std::string &config) {
        char pattern[] = "/tmp/sysmon-nvml-XXXXXX";
        dir = mkdtemp(pattern);
        std::ofstream(dir + "/config") << "log " << dir << "/log\n" << config;
        setenv("FAKE_NVML_CONFIG", (dir + "/config").c_str(), 1);
    }
    ~fake_nvml() {
        unsetenv("FAKE_NVML_CONFIG");
        std::remove((dir + "/config").c_str());
        std::remove((dir + "/log").c_str());
        rmdir(dir.c_str());
    }
    int events(const std::string &event) const {
        std::ifstream in(dir + "/log");
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line == event;
        return n;
    }
};

// The fixture tree with the fake NVML variant `variant` (or none).
struct gpu_sources {
    fixture_sources tree;
    gpu_sources(const std::string &root, const char *variant) : tree(root) {
        linux_sources s = linux_sources_current();
        if (variant != nullptr)
            std::snprintf(s.nvml_library, sizeof s.nvml_library, "%s/%s/libnvidia-ml.so.1",
                          SYSMON_FAKE_NVML_DIR, variant);
        linux_sources_set(&s);
    }
    ~gpu_sources() { sysmon_platform_shutdown(); }
};

std::vector<sysmon_gpu_info> collect(double elapsed = 1.0) {
    std::vector<sysmon_gpu_info> gpus(SYSMON_MAX_GPUS);
    int32_t count = -1;
    const sysmon_window w = advancing(elapsed);
    EXPECT_EQ(sysmon_collect_gpu(gpus.data(), &count, SYSMON_MAX_GPUS, &w), 0);
    gpus.resize(static_cast<size_t>(count));
    return gpus;
}

const char kTwoDevices[] =
    "driver 550.54.14\n"
    "device\nname NVIDIA A100-SXM4-40GB\nbus 00000000:65:00.0\n"
    "util 0 3\nmem 42949672960 2147483648 0\nmem2 42949672960 536870912 1610612736 0\n"
    "temp 33 0\npower 61234 0\n"
    "device\nname NVIDIA GeForce RTX 3090\nbus 00000000:B3:00.0\n"
    "util 87 0\nmem 25769803776 8589934592 0\nmem2 25769803776 0 8000000000 0\n"
    "temp 71 0\npower 305500 0\n";

}  // namespace

TEST(GpuCollector, AmdCardsThroughSysfsPrimaryHasTheMostMemory) {
    gpu_sources sources(fixture_dir("gpu-amd"), nullptr);
    const auto gpus = collect();
    ASSERT_EQ(gpus.size(), 2u);  // card1 and card2; no connector, render node or version
    EXPECT_STREQ(gpus[0].name, "AMD Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]");
    EXPECT_STREQ(gpus[0].source, "amdgpu");
    EXPECT_STREQ(gpus[0].bus_id, "0000:03:00.0");
    EXPECT_STREQ(gpus[0].driver, "amdgpu 3.57.0");
    EXPECT_DOUBLE_EQ(gpus[0].usage_percent, 37);
    EXPECT_EQ(gpus[0].vram_total, 17163091968u);
    EXPECT_EQ(gpus[0].vram_used, 1073741824u);
    EXPECT_DOUBLE_EQ(gpus[0].temperature_c, 54.5);
    EXPECT_DOUBLE_EQ(gpus[0].power_watts, 45);  // power1_average
    EXPECT_STREQ(gpus[1].name, "AMD GPU [1002:164e]");
    EXPECT_STREQ(gpus[1].bus_id, "0000:0b:00.0");
    EXPECT_DOUBLE_EQ(gpus[1].usage_percent, 4);
    EXPECT_DOUBLE_EQ(gpus[1].power_watts, 15.25);  // only power1_input
    EXPECT_DOUBLE_EQ(gpus[1].temperature_c, 41);
    // The same order on the next collection.
    EXPECT_STREQ(collect()[0].bus_id, "0000:03:00.0");
}

TEST(GpuCollector, NvmlFirstThenIntelEachCardOnce) {
    tree_copy copy("gpu-mixed");
    gpu_sources sources(copy.root.string(), "fake-nvml");
    fake_nvml nvml(kTwoDevices);
    auto gpus = collect();
    // The NVIDIA card of sysfs is NVML's first device; the virtual display
    // adapter is left out.
    ASSERT_EQ(gpus.size(), 4u);
    EXPECT_STREQ(gpus[0].name, "NVIDIA A100-SXM4-40GB");
    EXPECT_STREQ(gpus[0].source, "nvml");
    EXPECT_STREQ(gpus[0].bus_id, "0000:65:00.0");
    EXPECT_STREQ(gpus[0].driver, "550.54.14");
    EXPECT_DOUBLE_EQ(gpus[0].usage_percent, 0);  // MIG: not supported
    EXPECT_EQ(gpus[0].vram_total, 42949672960u);
    EXPECT_EQ(gpus[0].vram_used, 1610612736u);  // the v2 figure
    EXPECT_DOUBLE_EQ(gpus[0].temperature_c, 33);
    EXPECT_DOUBLE_EQ(gpus[0].power_watts, 61.234);
    EXPECT_STREQ(gpus[1].bus_id, "0000:b3:00.0");
    EXPECT_DOUBLE_EQ(gpus[1].usage_percent, 87);
    EXPECT_STREQ(gpus[2].name, "Intel Alder Lake-P GT2 [Iris Xe Graphics]");
    EXPECT_STREQ(gpus[2].source, "i915");
    EXPECT_STREQ(gpus[2].driver, "i915 6.1.0-fixture");
    EXPECT_STREQ(gpus[3].name, "Intel DG2 [Arc A770]");
    EXPECT_STREQ(gpus[3].source, "xe");
    EXPECT_DOUBLE_EQ(gpus[3].temperature_c, 48);
    EXPECT_DOUBLE_EQ(gpus[3].power_watts, 0);  // no energy reading before
    copy.write("sys/class/drm/card2/device/hwmon/hwmon7/energy1_input", "13000000\n");
    gpus = collect(2.0);
    EXPECT_DOUBLE_EQ(gpus[3].power_watts, 4.0);  // 8 J over 2 s
    EXPECT_EQ(nvml.events("init"), 1);
}

TEST(GpuCollector, LostAndRefusingDevicesAreSkipped) {
    gpu_sources sources(fixture_dir("empty"), "fake-nvml");
    fake_nvml nvml(
        "device\nname refuses\nhandle 15\n"
        "device\nname lost\nutil 0 15\n"
        "device\nname fine\nutil 12 0\n");
    const auto gpus = collect();
    ASSERT_EQ(gpus.size(), 1u);
    EXPECT_STREQ(gpus[0].name, "fine");
    EXPECT_DOUBLE_EQ(gpus[0].usage_percent, 12);
}

TEST(GpuCollector, VendorLibraryFailuresDisableNvmlQuietly) {
    {
        gpu_sources sources(fixture_dir("empty"), "fake-nvml");
        fake_nvml nvml("init 9\ndevice\nname x\n");  // driver not loaded
        EXPECT_TRUE(collect().empty());
        EXPECT_EQ(nvml.events("init"), 1);
        EXPECT_EQ(nvml.events("shutdown"), 0);
    }
    {
        gpu_sources sources(fixture_dir("empty"), "fake-nvml-no-power");  // a symbol missing
        fake_nvml nvml(kTwoDevices);
        EXPECT_TRUE(collect().empty());
        EXPECT_EQ(nvml.events("init"), 0);
    }
    {
        gpu_sources sources(fixture_dir("empty"), "no-such-library");
        EXPECT_TRUE(collect().empty());
    }
    {
        gpu_sources sources(fixture_dir("empty"), "fake-nvml");
        fake_nvml nvml("hollow 1\ndevice\nname x\n");  // success, nothing filled
        EXPECT_TRUE(collect().empty());
    }
}

TEST(GpuCollector, WithoutTheV2MemoryQueryV1Counts) {
    gpu_sources sources(fixture_dir("empty"), "fake-nvml-no-memory-v2");
    fake_nvml nvml(kTwoDevices);
    const auto gpus = collect();
    ASSERT_EQ(gpus.size(), 2u);
    EXPECT_EQ(gpus[0].vram_used, 2147483648u);
    EXPECT_EQ(gpus[1].vram_used, 8589934592u);
}

TEST(GpuCollector, HostileValuesGiveBoundedFiguresAndValidText) {
    gpu_sources sources(fixture_dir("gpu-garbage"), "fake-nvml");
    fake_nvml nvml("device\nunterminated 1\nbus 0000:65:00\n");
    const auto gpus = collect();
    ASSERT_EQ(gpus.size(), 3u);  // the card with a cut uevent is left out
    EXPECT_EQ(std::string(gpus[0].name), std::string(96, 'N'));
    EXPECT_STREQ(gpus[0].bus_id, "");
    EXPECT_STREQ(gpus[1].name, "Radeon \xEF\xBF\xBD\xEF\xBF\xBD Pro");
    EXPECT_DOUBLE_EQ(gpus[1].usage_percent, 0);
    EXPECT_EQ(gpus[1].vram_total, 0u);
    EXPECT_DOUBLE_EQ(gpus[1].temperature_c, 0);
    EXPECT_DOUBLE_EQ(gpus[1].power_watts, 7e-6);  // power1_average unreadable
    EXPECT_STREQ(gpus[2].bus_id, "");
    EXPECT_DOUBLE_EQ(gpus[2].usage_percent, 100);
    EXPECT_DOUBLE_EQ(gpus[2].temperature_c, 0);
    for (const auto &g : gpus) {
        EXPECT_NE(std::memchr(g.name, '\0', sizeof g.name), nullptr);
        EXPECT_NE(std::memchr(g.driver, '\0', sizeof g.driver), nullptr);
    }
}

// Through the library: NVML is initialised once per library initialisation
// and shut down at clean-up, however many readings come between.
TEST(GpuCollector, OneNvmlInitialisationPerLibraryInitialisation) {
    gpu_sources sources(fixture_dir("empty"), "fake-nvml");
    fake_nvml nvml(kTwoDevices);
    sysmon_init();
    for (int i = 0; i < 3; ++i) sysmon_gpu();
    const auto snapshot = nlohmann::json::parse(sysmon_snapshot());
    EXPECT_EQ(snapshot["gpu"]["source"], "nvml");
    EXPECT_EQ(snapshot["gpu"]["adapters"].size(), 2u);
    EXPECT_EQ(snapshot["gpu"]["adapters"][1]["bus_id"], "0000:b3:00.0");
    EXPECT_EQ(nvml.events("init"), 1);
    EXPECT_EQ(nvml.events("shutdown"), 0);
    sysmon_cleanup();
    EXPECT_EQ(nvml.events("shutdown"), 1);
    const auto doc = nlohmann::json::parse(sysmon_gpu());  // initialises again
    EXPECT_EQ(doc["name"], "NVIDIA A100-SXM4-40GB");
    EXPECT_EQ(nvml.events("init"), 2);
    sysmon_cleanup();
    EXPECT_EQ(nvml.events("shutdown"), 2);
}
