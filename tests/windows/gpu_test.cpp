// The GPU document under Wine. Without a display DXGI lists no adapter and
// the counters are missing, and the fake nvml.dll in the prefix's system32
// fails to initialise without its configuration (as without a driver): the
// placeholder with source "none". With its configuration, the library finds
// it in the system folder and reports its two devices.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "host_library.h"
#include "json_checks.h"

namespace {

std::string temp_file(const char *name) {
    char dir[MAX_PATH];
    const DWORD n = GetTempPathA(MAX_PATH, dir);
    return std::string(dir, n) + name;
}

int count_lines(const std::string &path, const std::string &line) {
    std::ifstream in(path);
    int n = 0;
    for (std::string l; std::getline(in, l);) n += l == line;
    return n;
}

}  // namespace

TEST(Gpu, WithoutDisplayOrDriverThePlaceholder) {
    SetEnvironmentVariableA("FAKE_NVML_CONFIG", nullptr);
    api().cleanup();
    EXPECT_STREQ(api().gpu(),
                 "{\"name\":\"unknown\",\"usage_percent\":0.00,\"vram_total\":0,\"vram_used\":0,"
                 "\"temperature_c\":0.0,\"driver\":\"unknown\",\"power_watts\":0.0,\"source\":\"none\","
                 "\"adapters\":[]}");
    EXPECT_EQ(parse_document(api().snapshot())["gpu"]["source"], "none");
    api().cleanup();
}

TEST(Gpu, FakeNvmlInTheSystemFolder) {
    const std::string config = temp_file("sysmon-fake-nvml.conf");
    const std::string log = temp_file("sysmon-fake-nvml.log");
    std::remove(log.c_str());
    std::ofstream(config) << "log " << log << "\n"
                          << "driver 551.86\n"
                          << "device\nname NVIDIA RTX A4000\nbus 00000000:01:00.0\n"
                          << "util 42 0\nmem2 17171480576 0 1073741824 0\ntemp 55 0\npower 35250 0\n"
                          << "device\nname NVIDIA A100 MIG\nbus 00000000:41:00.0\nutil 0 3\n"
                          << "mem2 42949672960 0 0 0\ntemp 30 0\npower 50000 0\n";
    SetEnvironmentVariableA("FAKE_NVML_CONFIG", config.c_str());
    api().cleanup();
    for (int i = 0; i < 3; ++i) api().gpu();
    const ordered_json gpu = parse_document(api().gpu());
    EXPECT_EQ(gpu["source"], "nvml");
    EXPECT_EQ(gpu["name"], "NVIDIA RTX A4000");
    EXPECT_EQ(gpu["usage_percent"], 42);
    EXPECT_EQ(gpu["vram_total"], 17171480576u);
    EXPECT_EQ(gpu["vram_used"], 1073741824u);
    EXPECT_EQ(gpu["temperature_c"], 55);
    EXPECT_EQ(gpu["power_watts"], 35.2);  // 35.25 W with one decimal
    EXPECT_EQ(gpu["driver"], "551.86");
    ASSERT_EQ(gpu["adapters"].size(), 2u);
    EXPECT_EQ(gpu["adapters"][1]["bus_id"], "0000:41:00.0");
    EXPECT_EQ(gpu["adapters"][1]["usage_percent"], 0);  // MIG: not supported
    EXPECT_EQ(parse_document(api().snapshot())["gpu"]["adapters"].size(), 2u);
    EXPECT_EQ(count_lines(log, "init"), 1);  // once per initialisation
    api().cleanup();
    EXPECT_EQ(count_lines(log, "shutdown"), 1);
    SetEnvironmentVariableA("FAKE_NVML_CONFIG", nullptr);
    std::remove(config.c_str());
    std::remove(log.c_str());
}
