// Exact text of every domain document, written from hand-made records.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "documents.h"
#include "gpu_document.h"
#include "fake_platform.h"

namespace {

template <size_t N>
void set(char (&field)[N], const char *value) {
    std::memset(field, 0, N);
    std::strncpy(field, value, N - 1);
}

class DocumentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        strbuf_init(&sb, 64);
        s_cpu = {};
        s_mem = {};
        s_gpu = {};
        s_gpus_count = 0;
        s_bat = {};
        s_sys = {};
        std::memset(s_disks.items, 0, sizeof s_disks.items[0] * static_cast<size_t>(s_disks.capacity));
        std::memset(s_nets.items, 0, sizeof s_nets.items[0] * static_cast<size_t>(s_nets.capacity));
        std::memset(s_cores.items, 0, sizeof s_cores.items[0] * static_cast<size_t>(s_cores.capacity));
        s_cores.count = 0;
    }
    void TearDown() override {
        s_cores.count = 0;
        strbuf_free(&sb);
    }
    std::string str() const { return std::string(sb.data, sb.len); }
    strbuf sb{};
};

TEST_F(DocumentsTest, ProcessorDocument) {
    set(s_cpu.name, "Generic CPU");
    s_cpu.cores = 2;
    s_cpu.threads = 2;
    s_cpu.total_usage = 12.5;
    s_cpu.frequency_mhz = 2400;
    s_cores.count = 2;
    s_cores.items[0] = {12.5, 600, 4938.25};
    s_cores.items[1] = {12.5, 634.567, 4938.25};
    s_cpu.busy_seconds = 1234.567;
    s_cpu.idle_seconds = 9876.5;
    serialize_cpu(&sb);
    EXPECT_EQ(str(),
              "{\"name\":\"Generic CPU\",\"cores\":2,\"threads\":2,\"total_usage\":12.50,"
              "\"frequency_mhz\":2400.0,\"per_core\":[12.50,12.50],\"temperature_c\":0.0,"
              "\"busy_seconds\":1234.57,\"idle_seconds\":9876.50,"
              "\"per_core_busy_seconds\":[600.00,634.57],\"per_core_idle_seconds\":[4938.25,4938.25],"
              "\"limit_cpus\":0.00}");
}

TEST_F(DocumentsTest, ProcessorWithoutCoresAndNegativeTemperature) {
    s_cores.count = 0;
    s_cpu.temperature_c = -5.26;
    serialize_cpu(&sb);
    EXPECT_NE(str().find("\"per_core\":[],\"temperature_c\":-5.3,"), std::string::npos) << str();
    EXPECT_NE(str().find("\"per_core_busy_seconds\":[],\"per_core_idle_seconds\":[],\"limit_cpus\":0.00}"),
              std::string::npos) << str();

    strbuf_reset(&sb);
    s_cores.count = -4;
    serialize_cpu(&sb);
    EXPECT_NE(str().find("\"per_core\":[],"), std::string::npos) << str();
}

TEST_F(DocumentsTest, ProcessorCountAboveWhatTheListHoldsReadsNoFurther) {
    s_cores.count = 100000;
    serialize_cpu(&sb);
    const auto doc = nlohmann::json::parse(str());
    EXPECT_EQ(doc["per_core"].size(), static_cast<size_t>(s_cores.capacity));
    EXPECT_EQ(doc["per_core_idle_seconds"].size(), static_cast<size_t>(s_cores.capacity));
}

TEST_F(DocumentsTest, MemoryDocument) {
    s_mem = {8589934592ull, 5368709120ull, 3221225472ull, 0, 12884901888ull, 18446744073709551615ull,
             536870912ull, 268435456ull};
    serialize_mem(&sb);
    EXPECT_EQ(str(),
              "{\"total\":8589934592,\"used\":5368709120,\"available\":3221225472,\"cached\":0,"
              "\"swap_total\":12884901888,\"swap_used\":18446744073709551615,\"limit\":536870912,"
              "\"limit_used\":268435456}");
}

TEST_F(DocumentsTest, SingleDiskWithEscapedRootPath) {
    set(s_disks.items[0].name, "C:");
    set(s_disks.items[0].mount, "C:\\");
    set(s_disks.items[0].fs, "NTFS");
    s_disks.items[0].total = 100;
    s_disks.items[0].used = 40;
    s_disks.items[0].free = 60;
    s_disks.items[0].available = 55;
    s_disks.items[0].total_read = 4096;
    s_disks.items[0].total_written = 18446744073709551615u;
    serialize_disks(&sb, 1);
    EXPECT_EQ(str(),
              "[{\"name\":\"C:\",\"mount\":\"C:\\\\\",\"fs\":\"NTFS\",\"total\":100,\"used\":40,"
              "\"free\":60,\"read_bytes_sec\":0,\"write_bytes_sec\":0,\"total_read\":4096,"
              "\"total_written\":18446744073709551615,\"available\":55}]");
}

TEST_F(DocumentsTest, EmptyAndNegativeCountsGiveEmptyArrays) {
    serialize_disks(&sb, 0);
    serialize_nets(&sb, -3);
    EXPECT_EQ(str(), "[][]");
}

TEST_F(DocumentsTest, CountsAboveCapacityAreCut) {
    // At the size the lists have (an earlier test in this process may have
    // grown them).
    serialize_disks(&sb, s_disks.capacity + 1);
    EXPECT_EQ(nlohmann::json::parse(str()).size(), static_cast<size_t>(s_disks.capacity));
    strbuf_reset(&sb);
    serialize_nets(&sb, s_nets.capacity + 1);
    EXPECT_EQ(nlohmann::json::parse(str()).size(), static_cast<size_t>(s_nets.capacity));
}

TEST_F(DocumentsTest, TwoInterfacesWithEscapedNames) {
    set(s_nets.items[0].name, "a\"b");
    set(s_nets.items[0].ip, "0.0.0.0");
    s_nets.items[0].up_bytes_sec = 1;
    s_nets.items[0].down_bytes_sec = 2;
    s_nets.items[0].total_sent = 3;
    s_nets.items[0].total_recv = 4;
    set(s_nets.items[1].name, "c:\\x");
    set(s_nets.items[1].ip, "0.0.0.0");
    serialize_nets(&sb, 2);
    EXPECT_EQ(str(),
              "[{\"name\":\"a\\\"b\",\"ip\":\"0.0.0.0\",\"up_bytes_sec\":1,\"down_bytes_sec\":2,"
              "\"total_sent\":3,\"total_recv\":4},"
              "{\"name\":\"c:\\\\x\",\"ip\":\"0.0.0.0\",\"up_bytes_sec\":0,\"down_bytes_sec\":0,"
              "\"total_sent\":0,\"total_recv\":0}]");
}

TEST_F(DocumentsTest, GpuDocumentWithoutAdapters) {
    gpu_primary_from_adapters(&s_gpu, s_gpus, 0);
    serialize_gpu(&sb);
    EXPECT_EQ(str(),
              "{\"name\":\"unknown\",\"usage_percent\":0.00,\"vram_total\":0,\"vram_used\":0,"
              "\"temperature_c\":0.0,\"driver\":\"unknown\",\"power_watts\":0.0,\"source\":\"none\","
              "\"adapters\":[]}");
}

TEST_F(DocumentsTest, GpuDocumentListsEveryAdapterPrimaryFirst) {
    std::memset(s_gpus, 0, sizeof s_gpus);
    set(s_gpus[0].name, "A\"1");
    s_gpus[0].usage_percent = 37.5;
    s_gpus[0].vram_total = 8;
    s_gpus[0].vram_used = 2;
    s_gpus[0].temperature_c = 61;
    set(s_gpus[0].driver, "550.54");
    s_gpus[0].power_watts = 120.25;
    set(s_gpus[0].source, "nvml");
    set(s_gpus[0].bus_id, "0000:65:00.0");
    set(s_gpus[1].name, "B");
    set(s_gpus[1].source, "i915");
    s_gpus_count = 2;
    gpu_primary_from_adapters(&s_gpu, s_gpus, s_gpus_count);
    serialize_gpu(&sb);
    EXPECT_EQ(str(),
              "{\"name\":\"A\\\"1\",\"usage_percent\":37.50,\"vram_total\":8,\"vram_used\":2,"
              "\"temperature_c\":61.0,\"driver\":\"550.54\",\"power_watts\":120.2,\"source\":\"nvml\","
              "\"adapters\":[{\"name\":\"A\\\"1\",\"usage_percent\":37.50,\"vram_total\":8,\"vram_used\":2,"
              "\"temperature_c\":61.0,\"driver\":\"550.54\",\"power_watts\":120.2,\"source\":\"nvml\","
              "\"bus_id\":\"0000:65:00.0\"},{\"name\":\"B\",\"usage_percent\":0.00,\"vram_total\":0,"
              "\"vram_used\":0,\"temperature_c\":0.0,\"driver\":\"\",\"power_watts\":0.0,\"source\":\"i915\","
              "\"bus_id\":\"\"}]}");
    // A count beyond the capacity is cut to it, a negative one gives none.
    strbuf_reset(&sb);
    serialize_gpu_adapters(&sb, s_gpus, -3);
    EXPECT_EQ(str(), "[]");
    strbuf_reset(&sb);
    serialize_gpu_adapters(&sb, s_gpus, SYSMON_MAX_GPUS + 5);
    EXPECT_EQ(nlohmann::json::parse(str()).size(), static_cast<size_t>(SYSMON_MAX_GPUS));
}

TEST_F(DocumentsTest, SystemDocument) {
    set(s_sys.hostname, "HOST\t1");
    set(s_sys.os, "Windows 11");
    set(s_sys.kernel, "10.0.22631");
    s_sys.uptime_seconds = 3723;
    set(s_sys.boot_time, "2024-03-05T07:09:02Z");
    set(s_sys.cpu_arch, "x86_64");
    serialize_sys(&sb);
    EXPECT_EQ(str(),
              "{\"hostname\":\"HOST\\t1\",\"os\":\"Windows 11\",\"kernel\":\"10.0.22631\","
              "\"uptime_seconds\":3723,\"boot_time\":\"2024-03-05T07:09:02Z\",\"cpu_arch\":\"x86_64\"}");
}

TEST_F(DocumentsTest, BatteryDocument) {
    s_bat.present = 1;
    s_bat.percent = 80;
    set(s_bat.status, "Charging");
    s_bat.health_percent = 100;
    serialize_bat(&sb);
    EXPECT_EQ(str(),
              "{\"present\":true,\"percent\":80,\"status\":\"Charging\",\"time_remaining_min\":0,"
              "\"power_draw_watts\":0.00,\"health_percent\":100}");
}

TEST_F(DocumentsTest, BatteryPresentIsTrueForAnyNonZeroValue) {
    s_bat.present = -7;
    serialize_bat(&sb);
    EXPECT_EQ(str().rfind("{\"present\":true,", 0), 0u) << str();
    strbuf_reset(&sb);
    s_bat.present = 0;
    serialize_bat(&sb);
    EXPECT_EQ(str().rfind("{\"present\":false,", 0), 0u) << str();
}

TEST_F(DocumentsTest, ProcessMembersWithoutBraces) {
    sysmon_proc_info p = fake_process(4, 0, "System", 1.005);
    p.memory_bytes = 4096;
    p.memory_percent = 0.125;
    p.threads = 143;
    p.write_bytes_sec = 77;
    serialize_proc_fields(&sb, &p);
    EXPECT_EQ(str(),
              "\"pid\":4,\"name\":\"System\",\"cpu_percent\":1.00,\"memory_bytes\":4096,"
              "\"memory_percent\":0.12,\"status\":\"running\",\"command\":\"System\",\"ppid\":0,"
              "\"user\":\"SYSTEM\",\"threads\":143,\"read_bytes_sec\":0,\"write_bytes_sec\":77");
    serialize_proc_fields(&sb, nullptr);  // nothing to write
    EXPECT_EQ(str().back(), '7');
}

TEST_F(DocumentsTest, HostileTextFieldsStayInsideTheirFields) {
    // Fields filled to the last byte without a NUL, and every byte value.
    std::memset(s_sys.hostname, '"', sizeof s_sys.hostname);
    std::memset(s_sys.os, '\x01', sizeof s_sys.os);
    for (size_t i = 0; i < sizeof s_sys.kernel; ++i) s_sys.kernel[i] = static_cast<char>(i + 1);
    std::memset(s_sys.boot_time, '\\', sizeof s_sys.boot_time);
    std::memset(s_sys.cpu_arch, 'x', sizeof s_sys.cpu_arch);
    serialize_sys(&sb);
    const std::string doc = str();
    // Parse only the first members, which are pure ASCII escapes.
    const auto hostname_end = doc.find("\",\"os\":");
    ASSERT_NE(hostname_end, std::string::npos);
    EXPECT_EQ(hostname_end, std::string("{\"hostname\":\"").size() + 2 * sizeof s_sys.hostname);
    const auto cpu_arch = doc.find("\"cpu_arch\":\"");
    ASSERT_NE(cpu_arch, std::string::npos);
    EXPECT_EQ(doc.substr(cpu_arch + 12), std::string(sizeof s_sys.cpu_arch, 'x') + "\"}");
}

TEST_F(DocumentsTest, EveryDocumentParses) {
    set(s_cpu.name, "Weird \"CPU\" \\ \x01");
    s_cores.count = 3;
    set(s_disks.items[0].mount, "E:\\");
    set(s_nets.items[0].name, "Ethernet\n");
    set(s_sys.hostname, "h");
    set(s_bat.status, "none");
    serialize_cpu(&sb);
    EXPECT_TRUE(nlohmann::json::accept(str())) << str();
    for (auto writer : {+[](strbuf *b) { serialize_mem(b); }, +[](strbuf *b) { serialize_disks(b, 3); },
                        +[](strbuf *b) { serialize_nets(b, 2); }, +[](strbuf *b) { serialize_gpu(b); },
                        +[](strbuf *b) { serialize_sys(b); }, +[](strbuf *b) { serialize_bat(b); }}) {
        strbuf_reset(&sb);
        writer(&sb);
        EXPECT_TRUE(nlohmann::json::accept(str())) << str();
    }
}

TEST_F(DocumentsTest, WritersIgnoreAbsentBuffers) {
    strbuf absent{};
    serialize_cpu(&absent);
    serialize_mem(&absent);
    serialize_disks(&absent, 5);
    serialize_nets(&absent, 5);
    serialize_gpu(&absent);
    serialize_sys(&absent);
    serialize_bat(&absent);
    const sysmon_proc_info p = fake_process(1, 0, "x", 0);
    serialize_proc_fields(&absent, &p);
    serialize_cpu(nullptr);
    EXPECT_EQ(absent.data, nullptr);
    EXPECT_EQ(absent.len, 0u);
}

}  // namespace
